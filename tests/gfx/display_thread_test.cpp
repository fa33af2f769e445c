// The display thread against a back end that only counts: one wake for a
// burst of changes, made with no lock held; a stop during a wait; no wake
// before the window exists or after it went; a display lost, parked and let go.
#include "gfx/display_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "core/program_life.h"

namespace {

// A wait here ends only on a wake (while wakes end waits) or release(), so
// that what the thread does between them is known exactly.
class FakeBackend final : public DisplayBackend {
public:
    bool create_window(const std::string&, std::string& error) override
    {
        if (during_create)
            during_create();
        if (!create_succeeds)
            error = "refused";
        return create_succeeds;
    }
    void take_frame() override {}
    void show_frame() override
    {
        if (during_pass)
            during_pass();
        std::lock_guard lock(mutex);
        ++passes;
    }
    void wait_for_work_until(std::chrono::steady_clock::time_point) override
    {
        std::unique_lock lock(mutex);
        ++waits;
        changed.notify_all();
        changed.wait(lock, [this] { return woken; });
        woken = false;
    }
    void wake_for_work() override
    {
        if (during_wake)
            during_wake();
        std::lock_guard lock(mutex);
        ++wakes;
        woken = woken || wakes_end_waits;
        changed.notify_all();
    }
    void destroy_window() override { ++destroyed; }

    void release()
    {
        std::lock_guard lock(mutex);
        woken = true;
        changed.notify_all();
    }
    void wait_for_waits(int count)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return waits >= count; });
    }

    bool create_succeeds = true;
    bool wakes_end_waits = true;
    std::function<void()> during_create;
    std::function<void()> during_pass;
    std::function<void()> during_wake;
    std::mutex mutex;
    std::condition_variable changed;
    bool woken = false;
    int passes = 0;
    int waits = 0;
    int wakes = 0;
    std::atomic<int> destroyed{0};
};

struct DisplayThreadTest : ::testing::Test {
    ProgramLife life;
    ErrorStatus status;
    Screen screen{status};
    FakeBackend backend;
    DisplayThread display{backend};
    std::string error;

    DisplayThreadTest() { use_program_life(&life); }
    ~DisplayThreadTest() override
    {
        display.stop();
        use_program_life(nullptr);
    }
};

TEST_F(DisplayThreadTest, a_burst_of_changes_wakes_it_once_with_no_lock_held)
{
    ASSERT_TRUE(display.start(screen, "t", error));
    backend.wait_for_waits(1);
    {
        std::lock_guard lock(backend.mutex);
        backend.wakes_end_waits = false;
    }
    // Another thread must be able to take the screen lock while the wake runs.
    bool lock_free_during_wake = false;
    backend.during_wake = [&] {
        std::thread other([&] { std::lock_guard<ScreenLock> guard(screen.lock()); });
        other.join();
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
    backend.during_wake = nullptr;
    std::lock_guard lock(backend.mutex);
    EXPECT_EQ(backend.wakes, 1);
    EXPECT_EQ(backend.passes, 1);
    backend.wakes_end_waits = true;  // for the stop
}

TEST_F(DisplayThreadTest, a_stop_during_a_wait_wakes_it_and_the_window_goes)
{
    ASSERT_TRUE(display.start(screen, "t", error));
    backend.wait_for_waits(1);
    display.stop();
    EXPECT_FALSE(display.running());
    EXPECT_EQ(backend.destroyed, 1);
    EXPECT_GE(backend.wakes, 1);
}

TEST_F(DisplayThreadTest, wakes_reach_the_back_end_only_while_the_window_exists)
{
    backend.during_create = [this] { display.owe_pass(); };
    backend.create_succeeds = false;
    EXPECT_FALSE(display.start(screen, "t", error));
    EXPECT_EQ(error, "refused");
    display.owe_pass();
    EXPECT_EQ(backend.wakes, 0);

    backend.create_succeeds = true;
    ASSERT_TRUE(display.start(screen, "t", error));
    EXPECT_EQ(backend.wakes, 0);
    display.stop();
    const int wakes_of_the_stop = backend.wakes;
    screen.mark_rows_changed(0, 0);
    display.owe_pass();
    EXPECT_EQ(backend.wakes, wakes_of_the_stop);
}

TEST_F(DisplayThreadTest, a_lost_display_parks_the_thread_asks_for_the_end_and_is_let_go)
{
    backend.during_pass = [this] { display.park_after_display_lost(); };
    ASSERT_TRUE(display.start(screen, "t", error));
    for (int i = 0; i < 5000 && !life.end_requested(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(life.end_requested());
    display.stop();
    EXPECT_FALSE(display.running());
    EXPECT_EQ(backend.destroyed, 0);  // the lost display's library is never entered again
}

}  // namespace
