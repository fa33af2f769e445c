// The sleep watch on Windows for a program without a window: the system's
// suspend and resume callback. A window takes the same notices as
// WM_POWERBROADCAST messages, so a windowed logger registers no callback.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/sleep_watch.h"

namespace {

// The callback's subscription as the Windows SDK's powrprof.h declares it
// (DEVICE_NOTIFY_SUBSCRIBE_PARAMETERS); mingw-w64's headers lack it.
using PowerCallback = ULONG(CALLBACK*)(PVOID context, ULONG type, PVOID setting);
struct PowerSubscription {
    PowerCallback callback;
    PVOID context;
};
constexpr DWORD notify_by_callback = 2;  // DEVICE_NOTIFY_CALLBACK
// Windows gives each recipient about two seconds before it sleeps regardless.
constexpr int64_t sleep_wait_ms = 1500;

PowerSubscription subscription{};
HPOWERNOTIFY registration = nullptr;

ULONG CALLBACK take_power_event(PVOID, ULONG type, PVOID)
{
    if (type == PBT_APMSUSPEND)
        pass_on_sleep(sleep_wait_ms);
    else if (type == PBT_APMRESUMEAUTOMATIC || type == PBT_APMRESUMESUSPEND)
        pass_on_resume();
    return ERROR_SUCCESS;
}

// The logger has a window unless LOGGER_WINDOW asks for none (headless, or
// its text on the terminal).
bool program_has_window()
{
    const char* backend = std::getenv("LOGGER_WINDOW");
    return backend == nullptr || (std::strcmp(backend, "headless") != 0 && std::strcmp(backend, "terminal") != 0);
}

}  // namespace

void start_sleep_watch()
{
    if (registration != nullptr || program_has_window())
        return;
    subscription = {take_power_event, nullptr};
    registration = RegisterSuspendResumeNotification(&subscription, notify_by_callback);
    if (registration == nullptr)
        std::fprintf(stderr,
                     "logger: RegisterSuspendResumeNotification failed (error %lu): a sleep will not wait for "
                     "the chart\n",
                     GetLastError());
}

void stop_sleep_watch()
{
    if (registration == nullptr)
        return;
    if (UnregisterSuspendResumeNotification(registration) == FALSE)
        std::fprintf(stderr, "logger: UnregisterSuspendResumeNotification failed (error %lu)\n", GetLastError());
    registration = nullptr;
}
