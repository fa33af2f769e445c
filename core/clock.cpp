// The virtual clock for tests and the program's choice between it and the
// system clock (clock_posix.cpp, clock_win32.cpp).
#include "core/clock.h"

double VirtualClock::seconds()
{
    now_ns_ += step_per_reading_ns_;
    return static_cast<double>(now_ns_) * 1e-9;
}

void VirtualClock::sleep_ms(int64_t delay_ms)
{
    if (on_sleep_)
        on_sleep_(delay_ms);
    if (delay_ms > 0)
        advance_ms(delay_ms);
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
