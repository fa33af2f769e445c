// Shared set-up of the text tests: a field reader with its own screen, channels
// and clock, a scripted channel device, the module reply, and frame comparison.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "core/clock.h"
#include "io/channels.h"
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

// What a scripted channel device holds and has been asked.
struct FakeLine {
    std::deque<uint8_t> queue;        // bytes waiting; tell() is their number
    std::vector<std::string> writes;  // one entry per write
    int reads = 0;
    int empty_reads = 0;
    int32_t read_result = status_ok;  // what the next reads report, bytes moved or not
    size_t largest_request = 0;
};

class FakeDevice final : public ChannelDevice {
public:
    explicit FakeDevice(FakeLine& line) : line_(line) {}
    bool at_end() override { return line_.queue.empty(); }
    int32_t close() override { return status_ok; }
    int64_t tell() override { return static_cast<int64_t>(line_.queue.size()); }
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override
    {
        ++line_.reads;
        line_.largest_request = std::max(line_.largest_request, count);
        bytes_read = 0;
        while (bytes_read < count && !line_.queue.empty()) {
            buffer[bytes_read++] = line_.queue.front();
            line_.queue.pop_front();
        }
        if (bytes_read == 0)
            ++line_.empty_reads;
        return line_.read_result;
    }
    int32_t write(const uint8_t* bytes, size_t count) override
    {
        line_.writes.emplace_back(reinterpret_cast<const char*>(bytes), count);
        return status_ok;
    }

private:
    FakeLine& line_;
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
