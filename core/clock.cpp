// The virtual clock for tests and the program's choice between it and the
// system clock (clock_posix.cpp, clock_win32.cpp).
#include "core/clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>

void WakeSignal::raise()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        raised_ = true;
    }
    raised_cv_.notify_all();
}

bool WakeSignal::take()
{
    std::lock_guard<std::mutex> guard(mutex_);
    const bool raised = raised_;
    raised_ = false;
    return raised;
}

bool WakeSignal::wait_for(double wait_s)
{
    // A day at most per call: far beyond any wait of the program, and safely
    // inside what the duration types hold.
    const double bounded_s = std::clamp(std::isnan(wait_s) ? 0.0 : wait_s, 0.0, 86'400.0);
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(bounded_s));
    std::unique_lock<std::mutex> guard(mutex_);
    raised_cv_.wait_for(guard, wait, [this] { return raised_; });
    const bool raised = raised_;
    raised_ = false;
    return raised;
}

bool SystemClock::wait_until(double moment_s, WakeSignal& wake)
{
    // Woken early without the signal (a spurious wake-up), it waits again.
    for (;;) {
        const double remaining_s = moment_s - seconds();
        if (!(remaining_s > 0.0))
            return wake.take();
        if (wake.wait_for(remaining_s))
            return true;
    }
}

bool Clock::wait_until_deadline(double wake_s, double deadline_s, WakeSignal& wake)
{
    const double margin_s = wake_margin_s();
    if (wake_s < deadline_s - margin_s)
        return wait_until(wake_s, wake);
    if (wait_until(deadline_s - margin_s, wake))
        return true;
    // A clock without a margin wakes on time: nothing is left to poll.
    if (margin_s > 0.0)
        while (seconds() < deadline_s)
            if (wake.take())
                return true;
    return false;
}

double VirtualClock::seconds()
{
    ++readings_;
    now_ns_ += step_per_reading_ns_;
    return static_cast<double>(now_ns_) * 1e-9;
}

double VirtualClock::awake_seconds() { return static_cast<double>(now_ns_ - asleep_ns_) * 1e-9; }

void VirtualClock::sleep_computer_ms(int64_t asleep_ms)
{
    now_ns_ += asleep_ms * 1'000'000;
    asleep_ns_ += asleep_ms * 1'000'000;
}

bool SleepDetector::slept(double seconds, double awake_seconds)
{
    const double difference_s = seconds - awake_seconds;
    if (!std::isfinite(difference_s))
        return false;
    if (!looked_) {
        looked_ = true;
        largest_difference_s_ = difference_s;
        return false;
    }
    const bool jumped = difference_s > largest_difference_s_ + threshold_s;
    largest_difference_s_ = std::max(largest_difference_s_, difference_s);
    return jumped;
}

void VirtualClock::sleep_ms(int64_t delay_ms)
{
    if (on_sleep_)
        on_sleep_(delay_ms);
    if (delay_ms > 0)
        advance_ms(delay_ms);
}

bool VirtualClock::wait_until(double moment_s, WakeSignal& wake)
{
    if (wake.take())
        return true;
    const int64_t moment_ns = to_ns(moment_s);
    const int64_t delay_ns = std::max<int64_t>(moment_ns - now_ns_, 0);
    // A moment already passed is no wait: the hook runs only when time would move.
    if (delay_ns == 0)
        return false;
    if (on_sleep_)
        on_sleep_((delay_ns + 999'999) / 1'000'000);
    if (wake.take())
        return true;  // what the hook fed arrived at once
    now_ns_ += delay_ns;
    total_slept_ms_ += delay_ns / 1'000'000;
    return false;
}

void VirtualClock::advance_ms(int64_t delay_ms)
{
    now_ns_ += delay_ms * 1'000'000;
    total_slept_ms_ += delay_ms;
}

namespace {
SystemClock system_clock;
Clock* current_clock = &system_clock;
}  // namespace

Clock& program_clock() { return *current_clock; }

void use_program_clock(Clock* clock) { current_clock = clock ? clock : &system_clock; }
