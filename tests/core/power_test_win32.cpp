// The machine kept awake and the timer made fine, as the Windows calls see them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/power.h"
#include "core/win32_power_calls.h"

namespace {

class RecordingPowerCalls final : public Win32PowerCalls {
public:
    unsigned long set_thread_execution_state(unsigned long flags) override
    {
        char text[32];
        std::snprintf(text, sizeof text, "state %08lx", flags);
        calls.emplace_back(text);
        return ES_CONTINUOUS;
    }
    unsigned time_begin_period(unsigned period_ms) override
    {
        calls.push_back("begin " + std::to_string(period_ms));
        return begin_result;
    }
    unsigned time_end_period(unsigned period_ms) override
    {
        calls.push_back("end " + std::to_string(period_ms));
        return TIMERR_NOERROR;
    }
    std::vector<std::string> calls;
    unsigned begin_result = TIMERR_NOERROR;
};

}  // namespace

TEST(Win32Power, each_request_is_made_once_and_given_back_once_and_a_refused_one_not_at_all)
{
    RecordingPowerCalls calls;
    use_win32_power_calls(&calls);
    hold_fine_timer();
    hold_fine_timer();
    keep_machine_awake();
    keep_machine_awake();
    let_machine_sleep();
    let_machine_sleep();
    release_fine_timer();
    release_fine_timer();
    EXPECT_EQ(calls.calls, (std::vector<std::string>{"begin 1", "state 80000003", "state 80000000", "end 1"}));

    calls.calls.clear();
    calls.begin_result = TIMERR_NOCANDO;
    hold_fine_timer();
    release_fine_timer();
    EXPECT_EQ(calls.calls, (std::vector<std::string>{"begin 1"}));
    use_win32_power_calls(nullptr);
}
