// The system clock on Linux: CLOCK_BOOTTIME for the run, which goes on while
// the computer is suspended, CLOCK_MONOTONIC beside it, and a plain sleep.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "core/clock.h"

namespace {

double read_clock_s(clockid_t clock_id, const char* name)
{
    timespec now{};
    if (clock_gettime(clock_id, &now) != 0) {
        // Both clocks exist on every kernel since 2.6.39: a failure is reported once.
        static bool reported = false;
        if (!reported)
            std::perror(name);
        reported = true;
        return 0.0;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

double SystemClock::seconds() { return read_clock_s(CLOCK_BOOTTIME, "logger: clock_gettime(CLOCK_BOOTTIME)"); }

double SystemClock::awake_seconds() { return read_clock_s(CLOCK_MONOTONIC, "logger: clock_gettime(CLOCK_MONOTONIC)"); }

void SystemClock::sleep_ms(int64_t delay_ms)
{
    if (delay_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
}

// A timed wait on Linux wakes some tens of microseconds late on an idle
// machine, rarely a millisecond late on a busy one.
double SystemClock::wake_margin_s() const { return 0.001; }
