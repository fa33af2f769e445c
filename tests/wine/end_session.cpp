// Ends the session for one window as Windows does at log-off or shut-down:
// WM_QUERYENDSESSION, then WM_ENDSESSION with the window's answer. Exits 0
// when the window agreed and took both messages. --suspend and --resume send
// instead the power messages of a sleep, or of a wake by the user, each of
// which the window must answer TRUE.
//   end_session.exe [--suspend|--resume] [WINDOW_TITLE]   (default "logger")
#include <windows.h>

#include <cstdio>
#include <string>

bool power_message_taken(HWND window, WPARAM event)
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(window, WM_POWERBROADCAST, event, 0, SMTO_NORMAL, 5000, &answer) != 0 && answer == TRUE;
}

int main(int argc, char** argv)
{
    const std::string power = argc > 1 ? argv[1] : "";
    const int title_at = power == "--suspend" || power == "--resume" ? 2 : 1;
    const char* title = argc > title_at ? argv[title_at] : "logger";
    HWND window = FindWindowA(nullptr, title);
    if (window == nullptr) {
        std::fprintf(stderr, "end_session: no window titled %s\n", title);
        return 2;
    }
    if (power == "--suspend")
        return power_message_taken(window, PBT_APMSUSPEND) ? 0 : 5;
    if (power == "--resume")
        return power_message_taken(window, PBT_APMRESUMEAUTOMATIC) && power_message_taken(window, PBT_APMRESUMESUSPEND)
                   ? 0
                   : 5;
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer) == 0) {
        std::fprintf(stderr, "end_session: WM_QUERYENDSESSION was not answered\n");
        return 3;
    }
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutA(window, WM_ENDSESSION, answer != 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &ignored) == 0) {
        std::fprintf(stderr, "end_session: WM_ENDSESSION was not taken\n");
        return 4;
    }
    std::printf("end_session: the window answered %s\n", answer != 0 ? "yes" : "no");
    return answer != 0 ? 0 : 1;
}
