// One clock for the whole program: the run's time in seconds, which goes on
// while the computer sleeps, the awake time beside it, and a sleep.
// The system clock runs the program; a virtual clock lets tests run hours in seconds.
#pragma once
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// A mark that any thread raises to wake a thread waiting on the clock (a key
// arriving, an end requested from outside). It stays raised until taken.
class WakeSignal {
public:
    void raise();
    // True when the mark was raised since it was last taken; lowers it.
    bool take();
    // Waits at most wait_s seconds of real time for the mark; takes it.
    bool wait_for(double wait_s);

private:
    std::mutex mutex_;
    std::condition_variable raised_cv_;
    bool raised_ = false;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds from a fixed but arbitrary origin, counting any time the computer
    // slept; only differences mean anything.
    virtual double seconds() = 0;
    // Seconds that stop while the computer sleeps, from the same kind of origin:
    // seconds() - awake_seconds() grows only while the computer sleeps.
    virtual double awake_seconds() = 0;
    // Blocks for the given milliseconds; 0 or less returns at once.
    virtual void sleep_ms(int64_t delay_ms) = 0;
    // Sleeps until the clock reads moment_s or `wake` is raised, whichever
    // comes first; true when the signal ended the wait (it is then taken).
    virtual bool wait_until(double moment_s, WakeSignal& wake) = 0;
    // How late a wait may wake (wait_until_deadline polls this last stretch).
    virtual double wake_margin_s() const = 0;
    // Sleeps until wake_s, perhaps up to the wake margin late, but never past
    // deadline_s: when the deadline comes first or within the margin of the
    // wake, it sleeps until the margin before the deadline and polls the rest.
    // True when `wake` ended the wait (it is then taken).
    bool wait_until_deadline(double wake_s, double deadline_s, WakeSignal& wake);
};

// The operating system's clocks: on Linux CLOCK_BOOTTIME and CLOCK_MONOTONIC,
// on Windows the performance counter and the unbiased interrupt time.
class SystemClock final : public Clock {
public:
    double seconds() override;
    double awake_seconds() override;
    void sleep_ms(int64_t delay_ms) override;
    bool wait_until(double moment_s, WakeSignal& wake) override;
    double wake_margin_s() const override;
};

// Time that moves only when told: each sleep adds its length, and each reading
// may add a fixed step so that a busy-polling loop sees time pass. The computer
// may be put to sleep, which moves the run's time but not the awake time. An optional
// hook runs before every sleep and every wait for a moment still to come
// (tests feed keys or module bytes there); a wait whose signal the hook raised
// ends without time passing.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(double start_s = 1000.0) : now_ns_(to_ns(start_s)) {}

    double seconds() override;
    double awake_seconds() override;
    void sleep_ms(int64_t delay_ms) override;
    bool wait_until(double moment_s, WakeSignal& wake) override;
    double wake_margin_s() const override { return wake_margin_s_; }
    // A margin like the system clock's, so that waits poll their last stretch.
    void set_wake_margin_s(double margin_s) { wake_margin_s_ = margin_s; }

    void advance_ms(int64_t delay_ms);
    // The computer sleeps for that long: the run's time moves, the awake time stands.
    void sleep_computer_ms(int64_t asleep_ms);
    void set_step_per_reading_us(int64_t step_us) { step_per_reading_ns_ = step_us * 1000; }
    void set_on_sleep(std::function<void(int64_t delay_ms)> hook) { on_sleep_ = std::move(hook); }
    int64_t now_ns() const { return now_ns_; }
    int64_t total_slept_ms() const { return total_slept_ms_; }
    int64_t readings() const { return readings_; }

private:
    // Clamped to about ±290 years, so that no reading overflows the count.
    static int64_t to_ns(double s) { return static_cast<int64_t>(std::clamp(s, -9e9, 9e9) * 1e9); }
    int64_t now_ns_;
    int64_t step_per_reading_ns_ = 0;
    double wake_margin_s_ = 0.0;
    int64_t total_slept_ms_ = 0;
    int64_t readings_ = 0;
    int64_t asleep_ns_ = 0;
    std::function<void(int64_t)> on_sleep_;
};

// Notices a sleep of the computer from the two clocks alone: their difference
// grows only while it sleeps, so a rise of more than the threshold above the
// largest difference seen so far is a sleep. Needs no service of the system.
class SleepDetector {
public:
    static constexpr double threshold_s = 0.1;
    // True when the computer slept since the last look; the first look sets the base.
    bool slept(double seconds, double awake_seconds);

private:
    bool looked_ = false;
    double largest_difference_s_ = 0.0;
};

// The clock the program's timed operations use (seconds_clock, pause_ms, the
// line editor's polling). Tests install a virtual one; nullptr restores the system clock.
Clock& program_clock();
void use_program_clock(Clock* clock);
