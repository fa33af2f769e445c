// The virtual clock that lets whole runs of hours pass in seconds.
#include "core/clock.h"

#include <gtest/gtest.h>

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
