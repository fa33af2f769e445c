// The terminal view writes a changed row without taking the display's
// changes, and again once closed and opened anew.
#include "display/terminal_view.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "display/window_headless.h"
#include "screen/screen_test_support.h"

TEST(TerminalView, writes_a_changed_row_leaves_the_display_its_changes_and_writes_again_when_reopened)
{
    ErrorStatus status;
    Screen screen(status);
    std::mutex mutex;
    std::condition_variable written_cv;
    std::string written;
    TerminalViewWindow view(make_headless_window(), [&](std::string_view text) {
        std::lock_guard lock(mutex);
        written += text;
        written_cv.notify_all();
        return true;
    });
    std::string error;
    for (const std::string text : {"first", "second"}) {
        ASSERT_TRUE(view.open(screen, "t", error));
        clear_change_marks(screen);
        screen.write_text(text, true);
        std::unique_lock lock(mutex);
        EXPECT_TRUE(written_cv.wait_for(lock, std::chrono::seconds(10),
                                        [&] { return written.find(text + "\n") != std::string::npos; }));
        lock.unlock();
        EXPECT_TRUE(clear_change_marks(screen));
        view.close();
    }
}
