// Shared set-up of the text tests: a field reader with its own screen, channels
// and clock, the module reply, and frame comparison.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/clock.h"
#include "io/channels.h"
#include "io/io_test_support.h"
#include "screen/screen.h"
#include "text/field_reader.h"

// A field reader and everything it reports to, draws on and reads from.
struct ReaderRig {
    ErrorStatus status;
    Screen screen{status};
    ChannelTable channels{status};
    VirtualClock clock;
    FieldReader reader{status, screen, channels, clock};
};

// The module's reply "X,12,0,512,600,700,1812", read field by field.
inline void expect_module_reply(FieldReader& reader)
{
    EXPECT_EQ(reader.read_text_field(), "X");
    for (int32_t value : {12, 0, 512, 600, 700, 1812})
        EXPECT_EQ(reader.read_int_field(), value);
}

// Equal frames, or the first cell in which they differ.
inline ::testing::AssertionResult same_pixels(const Screen& actual, const Screen& expected)
{
    const size_t bytes = static_cast<size_t>(screen_width) * screen_height;
    const uint8_t* differs = std::mismatch(actual.frame(), actual.frame() + bytes, expected.frame()).first;
    if (differs == actual.frame() + bytes)
        return ::testing::AssertionSuccess();
    const auto i = static_cast<size_t>(differs - actual.frame());
    return ::testing::AssertionFailure() << "first difference in the cell at row " << i / screen_width / cell_height + 1
                                         << ", column " << i % screen_width / cell_width + 1;
}
