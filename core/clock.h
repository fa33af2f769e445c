// One clock for the whole program: a monotonic time in seconds and a sleep.
// The system clock runs the program; a virtual clock lets tests run hours in seconds.
#pragma once
#include <cstdint>
#include <functional>

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds from a fixed but arbitrary origin; only differences mean anything.
    virtual double seconds() = 0;
    // Blocks for the given milliseconds; 0 or less returns at once.
    virtual void sleep_ms(int64_t delay_ms) = 0;
};

// The monotonic clock of the operating system.
class SystemClock final : public Clock {
public:
    double seconds() override;
    void sleep_ms(int64_t delay_ms) override;
};

// Time that moves only when told: each sleep adds its length, and each reading
// may add a fixed step so that a busy-polling loop sees time pass. An optional
// hook runs before every sleep (tests feed keys or module bytes there).
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(double start_s = 1000.0) : now_ns_(to_ns(start_s)) {}

    double seconds() override;
    void sleep_ms(int64_t delay_ms) override;

    void advance_ms(int64_t delay_ms);
    void set_step_per_reading_us(int64_t step_us) { step_per_reading_ns_ = step_us * 1000; }
    void set_on_sleep(std::function<void(int64_t delay_ms)> hook) { on_sleep_ = std::move(hook); }
    int64_t now_ns() const { return now_ns_; }
    int64_t total_slept_ms() const { return total_slept_ms_; }

private:
    static int64_t to_ns(double s) { return static_cast<int64_t>(s * 1e9); }
    int64_t now_ns_;
    int64_t step_per_reading_ns_ = 0;
    int64_t total_slept_ms_ = 0;
    std::function<void(int64_t)> on_sleep_;
};

// The clock the program's timed operations use (seconds_clock, pause_ms, the
// line editor's polling). Tests install a virtual one; nullptr restores the system clock.
Clock& program_clock();
void use_program_clock(Clock* clock);
