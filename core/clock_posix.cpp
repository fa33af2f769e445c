// The system clock on Linux: the monotonic clock and a plain sleep.
#include <chrono>
#include <thread>

#include "core/clock.h"

double SystemClock::seconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleep_ms(int64_t delay_ms)
{
    if (delay_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
}

// A timed wait on Linux wakes some tens of microseconds late on an idle
// machine, rarely a millisecond late on a busy one.
double SystemClock::wake_margin_s() const { return 0.001; }
