// The terminal view: a changed row reaches the terminal without taking the
// display's changes, and a view closed and opened again writes again.
#include "gfx/terminal_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "gfx/screen.h"
#include "gfx/window_headless.h"
#include "gfx_test_support.h"

namespace {

struct TerminalViewTest : ::testing::Test {
    ErrorStatus status;
    Screen screen{status};
    std::mutex mutex;
    std::condition_variable written;
    std::vector<std::string> lines;
    TerminalViewWindow view{make_headless_window(), [this](std::string_view text) {
                                std::lock_guard lock(mutex);
                                lines.emplace_back(text);
                                written.notify_all();
                                return true;
                            }};

    bool line_written(const std::string& line)
    {
        std::unique_lock lock(mutex);
        return written.wait_for(lock, std::chrono::seconds(10),
                                [&] { return std::find(lines.begin(), lines.end(), line + "\n") != lines.end(); });
    }
    void write_row(int32_t row, std::string_view text)
    {
        screen.move_cursor(row, 1);
        screen.write_text(text, false);
    }
};

TEST_F(TerminalViewTest, a_changed_row_is_written_and_the_display_keeps_its_changes_across_reopenings)
{
    std::string error;
    ASSERT_TRUE(view.open(screen, "t", error));
    clear_change_marks(screen);
    write_row(5, "first");
    EXPECT_TRUE(line_written("first"));
    EXPECT_TRUE(clear_change_marks(screen));
    view.close();

    ASSERT_TRUE(view.open(screen, "t", error));
    write_row(6, "second");
    EXPECT_TRUE(line_written("second"));
    view.close();
}

}  // namespace
