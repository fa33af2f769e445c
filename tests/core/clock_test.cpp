// The virtual clock that lets whole runs of hours pass in seconds.
#include "core/clock.h"
#include "core/sleep_notices.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

TEST(VirtualClock, time_moves_only_by_sleeps_and_by_the_step_per_reading)
{
    VirtualClock clock(10.0);
    EXPECT_EQ(clock.seconds(), 10.0);
    EXPECT_EQ(clock.seconds(), 10.0);
    clock.sleep_ms(250);
    EXPECT_DOUBLE_EQ(clock.seconds(), 10.25);
    clock.set_step_per_reading_us(1000);
    EXPECT_DOUBLE_EQ(clock.seconds(), 10.251);
    EXPECT_DOUBLE_EQ(clock.seconds(), 10.252);
    clock.sleep_ms(0);
    clock.sleep_ms(-5);
    EXPECT_EQ(clock.total_slept_ms(), 250);
}

TEST(VirtualClock, the_sleep_hook_runs_before_time_moves_on)
{
    VirtualClock clock(0.0);
    int64_t seen_at_ns = -1;
    int64_t asked_ms = 0;
    clock.set_on_sleep([&](int64_t delay_ms) {
        seen_at_ns = clock.now_ns();
        asked_ms = delay_ms;
    });
    clock.sleep_ms(50);
    EXPECT_EQ(seen_at_ns, 0);
    EXPECT_EQ(asked_ms, 50);
    EXPECT_EQ(clock.now_ns(), 50'000'000);
}

// Near its deadline a wait sleeps to the margin before it, then polls up to it.
TEST(VirtualClock, a_wait_near_its_deadline_polls_the_last_margin)
{
    VirtualClock clock(0.0);
    clock.set_wake_margin_s(0.002);
    clock.set_step_per_reading_us(100);
    WakeSignal wake;
    EXPECT_FALSE(clock.wait_until_deadline(0.5, 0.5, wake));
    EXPECT_EQ(clock.total_slept_ms(), 498);
    EXPECT_TRUE(clock.now_ns() >= 500'000'000 && clock.now_ns() <= 500'100'000 && clock.readings() > 15);
}

TEST(ProgramClock, a_test_clock_is_used_until_it_is_taken_away)
{
    VirtualClock clock(42.0);
    use_program_clock(&clock);
    EXPECT_EQ(program_clock().seconds(), 42.0);
    use_program_clock(nullptr);
    EXPECT_NE(&program_clock(), static_cast<Clock*>(&clock));
}

TEST(SleepDetector, only_a_rise_of_the_clocks_difference_beyond_a_tenth_above_its_largest_is_a_sleep)
{
    SleepDetector detector;
    VirtualClock clock;
    EXPECT_FALSE(detector.slept(clock.seconds(), clock.awake_seconds()));
    clock.advance_ms(5000);
    EXPECT_FALSE(detector.slept(clock.seconds(), clock.awake_seconds()));
    clock.sleep_computer_ms(90);  // within the clocks' own drift
    EXPECT_FALSE(detector.slept(clock.seconds(), clock.awake_seconds()));
    clock.sleep_computer_ms(20);
    EXPECT_FALSE(detector.slept(clock.seconds(), clock.awake_seconds()));  // 110 ms in all, but in steps
    clock.sleep_computer_ms(15'000);
    EXPECT_TRUE(detector.slept(clock.seconds(), clock.awake_seconds()));
    EXPECT_FALSE(detector.slept(clock.seconds(), clock.awake_seconds()));
    EXPECT_FALSE(detector.slept(NAN, 0.0));
}

TEST(SleepNotices, a_sleep_waits_for_the_listening_run_to_make_its_data_safe_and_none_without_a_listener)
{
    SleepNotices notices;
    EXPECT_TRUE(notices.announce_sleep(10'000));  // nobody listens: at once
    std::atomic<int32_t> wakes{0};
    notices.listen([&wakes] { ++wakes; });
    std::atomic<bool> prepared_in_time{false};
    std::thread service([&] { prepared_in_time = notices.announce_sleep(10'000); });
    while (!notices.take_news().sleep_coming)
        std::this_thread::yield();
    notices.sleep_prepared();
    service.join();
    EXPECT_TRUE(prepared_in_time);
    notices.announce_resume();
    EXPECT_TRUE(notices.take_news().resumed);
    EXPECT_EQ(wakes, 2);
    // A run that stops listening lets a waiting sleep go ahead.
    std::thread late([&] { (void)notices.announce_sleep(10'000); });
    while (!notices.take_news().sleep_coming)
        std::this_thread::yield();
    notices.stop_listening();
    late.join();
    EXPECT_TRUE(notices.announce_sleep(0));
}
