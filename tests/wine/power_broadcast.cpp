// Tells one window that the computer is about to sleep, or that it woke, with
// the power messages Windows sends: PBT_APMSUSPEND; PBT_APMRESUMEAUTOMATIC
// then PBT_APMRESUMESUSPEND, as after a wake by the user. Exits 0 when the
// window took each message and answered TRUE.
//   power_broadcast.exe suspend|resume [WINDOW_TITLE]   (default "logger")
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    const bool suspend = argc > 1 && std::strcmp(argv[1], "suspend") == 0;
    if (argc < 2 || (!suspend && std::strcmp(argv[1], "resume") != 0)) {
        std::fprintf(stderr, "usage: power_broadcast suspend|resume [WINDOW_TITLE]\n");
        return 2;
    }
    const char* title = argc > 2 ? argv[2] : "logger";
    HWND window = FindWindowA(nullptr, title);
    if (window == nullptr) {
        std::fprintf(stderr, "power_broadcast: no window titled %s\n", title);
        return 2;
    }
    const std::vector<WPARAM> events =
        suspend ? std::vector<WPARAM>{PBT_APMSUSPEND} : std::vector<WPARAM>{PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND};
    for (const WPARAM event : events) {
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutA(window, WM_POWERBROADCAST, event, 0, SMTO_NORMAL, 5000, &answer) == 0) {
            std::fprintf(stderr, "power_broadcast: event %u was not taken\n", static_cast<unsigned>(event));
            return 3;
        }
        if (answer != TRUE) {
            std::fprintf(stderr, "power_broadcast: event %u answered %u\n", static_cast<unsigned>(event),
                         static_cast<unsigned>(answer));
            return 1;
        }
    }
    std::printf("power_broadcast: the window took the %s\n", suspend ? "suspend" : "resume");
    return 0;
}
