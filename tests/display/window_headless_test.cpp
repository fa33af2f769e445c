// The headless window: what it records of the title, pointer and tones, and
// its frame dump.
#include "display/window_headless.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "screen/screen.h"
#include "screen/screen_test_support.h"
#include "screen/snapshot.h"

namespace {

TEST(HeadlessWindow, records_title_places_the_pointer_within_the_window_and_dumps_the_frame_only_while_open)
{
    ErrorStatus status;
    Screen screen(status);
    HeadlessWindow window;
    const TempFolder temp;
    const auto file = temp.path / "dump.bmp";
    EXPECT_EQ(window.dump_frame(file.string()), status_not_allowed);
    EXPECT_FALSE(std::filesystem::exists(file));

    std::string error = "stale";
    ASSERT_TRUE(window.open(screen, "logger", error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(window.title(), "logger");
    EXPECT_TRUE(window.mouse_visible());
    window.move_mouse(400, 300, 0);
    EXPECT_EQ(window.mouse_x(), 400);
    EXPECT_EQ(window.mouse_y(), 300);
    EXPECT_FALSE(window.mouse_visible());
    window.move_mouse(5000, -7, -1);  // placed at the window's edge; visibility kept
    EXPECT_EQ(window.mouse_x(), 799);
    EXPECT_EQ(window.mouse_y(), 0);
    EXPECT_FALSE(window.mouse_visible());
    window.move_mouse(-1, 50, 1);  // negative x: not moved, only shown
    EXPECT_EQ(window.mouse_x(), 799);
    EXPECT_TRUE(window.mouse_visible());

    EXPECT_EQ(window.dump_frame(file.string()), 0);
    EXPECT_EQ(std::filesystem::file_size(file), static_cast<uintmax_t>(snapshot_file_size));
    EXPECT_EQ(window.dump_frame("/nonexistent-folder/x.bmp"), status_cannot_open);
    EXPECT_EQ(status.code(), status_cannot_open);
}

}  // namespace
