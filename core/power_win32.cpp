// Windows: a 1 ms timer resolution for the program's life (since Windows 10
// 2004 a process gets the coarse 15.6 ms tick unless it asks), and the system
// and display kept awake during a run (Windows judges idleness by user input
// alone, and a sleeping laptop loses its USB serial port).
#include <windows.h>

#include "core/power.h"
#include "core/win32_power_calls.h"

unsigned long Win32PowerCalls::set_thread_execution_state(unsigned long flags)
{
    return SetThreadExecutionState(static_cast<EXECUTION_STATE>(flags));
}

unsigned Win32PowerCalls::time_begin_period(unsigned period_ms) { return timeBeginPeriod(period_ms); }

unsigned Win32PowerCalls::time_end_period(unsigned period_ms) { return timeEndPeriod(period_ms); }

namespace {

constexpr unsigned timer_period_ms = 1;

Win32PowerCalls system_power_calls;
Win32PowerCalls* current_power_calls = &system_power_calls;

struct PowerRequests {
    bool fine_timer = false;
    bool awake = false;
};

PowerRequests& power_requests()
{
    static PowerRequests requests;
    return requests;
}

}  // namespace

Win32PowerCalls& win32_power_calls() { return *current_power_calls; }

void use_win32_power_calls(Win32PowerCalls* calls) { current_power_calls = calls ? calls : &system_power_calls; }

void hold_fine_timer()
{
    PowerRequests& requests = power_requests();
    if (!requests.fine_timer)
        requests.fine_timer = win32_power_calls().time_begin_period(timer_period_ms) == TIMERR_NOERROR;
}

void release_fine_timer()
{
    PowerRequests& requests = power_requests();
    if (requests.fine_timer)
        win32_power_calls().time_end_period(timer_period_ms);
    requests.fine_timer = false;
}

// The request belongs to the calling thread: the program's thread makes and
// gives it back.
void keep_machine_awake()
{
    PowerRequests& requests = power_requests();
    if (!requests.awake)
        requests.awake = win32_power_calls().set_thread_execution_state(ES_CONTINUOUS | ES_SYSTEM_REQUIRED |
                                                                        ES_DISPLAY_REQUIRED) != 0;
}

void let_machine_sleep()
{
    PowerRequests& requests = power_requests();
    if (requests.awake)
        win32_power_calls().set_thread_execution_state(ES_CONTINUOUS);
    requests.awake = false;
}
