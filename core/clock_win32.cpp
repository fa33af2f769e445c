// The system clock on Windows: the performance counter (it counts the time the
// computer sleeps), or the millisecond tick count on a machine without one;
// the unbiased interrupt time (it stops while the computer sleeps); and Sleep.
#include <windows.h>

#include <limits>

#include "core/clock.h"

namespace {

// The counter's ticks per second, read once; 0 when there is no counter.
int64_t counter_frequency_hz()
{
    static const int64_t frequency_hz = [] {
        LARGE_INTEGER frequency{};
        return QueryPerformanceFrequency(&frequency) != 0 && frequency.QuadPart > 0 ? frequency.QuadPart : 0;
    }();
    return frequency_hz;
}

}  // namespace

double SystemClock::seconds()
{
    const int64_t frequency_hz = counter_frequency_hz();
    LARGE_INTEGER count{};
    if (frequency_hz > 0 && QueryPerformanceCounter(&count) != 0) {
        // Whole seconds and the rest apart, so a large count keeps its precision.
        const int64_t whole_s = count.QuadPart / frequency_hz;
        const int64_t rest = count.QuadPart % frequency_hz;
        return static_cast<double>(whole_s) + static_cast<double>(rest) / static_cast<double>(frequency_hz);
    }
    return static_cast<double>(GetTickCount64()) / 1000.0;
}

double SystemClock::awake_seconds()
{
    ULONGLONG count_100ns = 0;
    if (QueryUnbiasedInterruptTime(&count_100ns) == FALSE)
        return seconds();  // no sleep can then be seen from the clocks alone
    return static_cast<double>(count_100ns / 10'000'000) + static_cast<double>(count_100ns % 10'000'000) * 1e-7;
}

void SystemClock::sleep_ms(int64_t delay_ms)
{
    // Sleep takes 32 bits and treats 0xFFFFFFFF as for ever: long waits go in pieces.
    constexpr int64_t longest_piece_ms = std::numeric_limits<DWORD>::max() - 1;
    while (delay_ms > 0) {
        const int64_t piece_ms = delay_ms < longest_piece_ms ? delay_ms : longest_piece_ms;
        Sleep(static_cast<DWORD>(piece_ms));
        delay_ms -= piece_ms;
    }
}

// With the 1 ms timer resolution the program asks for, a timed wait wakes
// within about a millisecond of its moment (without it, up to a whole 15.6 ms
// tick late, and the polled stretch before each column would be that long).
double SystemClock::wake_margin_s() const { return 0.002; }
