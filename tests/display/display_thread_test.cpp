// The display thread against a back end that counts: one wake for a burst of
// changes, made with no lock held; a stop during a wait; no wake without a
// window; a lost display parked and let go.
#include "display/display_thread.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "core/program_life.h"

namespace {

// A wait ends only on a wake, and only while wakes end waits.
struct FakeBackend final : DisplayBackend {
    bool create_window(const std::string&, std::string&) override
    {
        during_create();
        return true;
    }
    void take_frame() override {}
    void show_frame() override { during_pass(); }
    void wait_for_work_until(std::chrono::steady_clock::time_point) override
    {
        std::unique_lock lock(mutex);
        ++waits;
        changed.notify_all();
        changed.wait(lock, [this] { return std::exchange(woken, false); });
    }
    void wake_for_work() override
    {
        during_wake();
        std::lock_guard lock(mutex);
        woken = wakes_end_waits;
        ++wakes;
        changed.notify_all();
    }
    void destroy_window() override { ++destroyed; }

    std::function<void()> during_create = [] {}, during_pass = [] {}, during_wake = [] {};
    std::mutex mutex;
    std::condition_variable changed;
    bool woken = false, wakes_end_waits = true;
    int waits = 0, wakes = 0, destroyed = 0;
};

struct DisplayThreadTest : ::testing::Test {
    ProgramLife life;
    ErrorStatus status;
    Screen screen{status};
    FakeBackend backend;
    DisplayThread display{backend};
    std::string error;

    DisplayThreadTest() { use_program_life(&life); }
    ~DisplayThreadTest() override { use_program_life(nullptr); }
    void start_and_wait_idle()
    {
        ASSERT_TRUE(display.start(screen, "t", error));
        std::unique_lock lock(backend.mutex);
        backend.changed.wait(lock, [this] { return backend.waits > 0; });
        backend.wakes_end_waits = false;
    }
};

// Wakes reach the back end only while the window exists: none for a change owed while it is made, nor
// after the stop.
TEST_F(DisplayThreadTest, a_burst_wakes_it_once_with_no_lock_held_and_a_stop_ends_its_wait)
{
    backend.during_create = [this] { display.owe_pass(); };
    start_and_wait_idle();
    EXPECT_EQ(backend.wakes, 0);
    bool lock_free_during_wake = false;
    backend.during_wake = [&] {
        std::thread([&] { std::lock_guard<ScreenLock> guard(screen.lock()); }).join();
        lock_free_during_wake = true;
    };
    {
        std::lock_guard<ScreenLock> guard(screen.lock());
        for (int32_t y = 0; y < 100; ++y)
            screen.mark_rows_changed(y, y);
    }
    for (int i = 0; i < 100; ++i)
        display.owe_pass();
    EXPECT_TRUE(lock_free_during_wake);
    EXPECT_EQ(backend.wakes, 1);
    backend.wakes_end_waits = true;
    display.stop();
    display.owe_pass();
    EXPECT_EQ(backend.wakes, 2);
    EXPECT_EQ(backend.destroyed, 1);
}

TEST_F(DisplayThreadTest, a_lost_display_parks_the_thread_asks_for_the_end_and_is_let_go)
{
    backend.during_pass = [this] { display.park_after_display_lost(); };
    ASSERT_TRUE(display.start(screen, "t", error));
    for (int i = 0; i < 5000 && !life.end_requested(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    display.stop();
    EXPECT_TRUE(life.end_requested());
    EXPECT_EQ(backend.destroyed, 0);  // the lost display's library is never entered again
}

}  // namespace
