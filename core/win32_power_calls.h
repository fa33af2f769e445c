// The Win32 calls that keep the machine awake and set the timer resolution,
// behind one replaceable interface so that a test sees when they are made.
#pragma once

// One method per call, with the call's own arguments and result (DWORD as
// unsigned long, UINT and MMRESULT as unsigned). The defaults are the real calls.
class Win32PowerCalls {
public:
    virtual ~Win32PowerCalls() = default;
    virtual unsigned long set_thread_execution_state(unsigned long flags);
    virtual unsigned time_begin_period(unsigned period_ms);
    virtual unsigned time_end_period(unsigned period_ms);
};

// The calls power_win32.cpp makes; a test installs its own, nullptr restores the system's.
Win32PowerCalls& win32_power_calls();
void use_win32_power_calls(Win32PowerCalls* calls);
