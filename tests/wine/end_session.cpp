// Ends the session for one window as Windows does at log-off or shut-down:
// WM_QUERYENDSESSION, then WM_ENDSESSION with the window's answer. Exits 0
// when the window agreed and took both messages.
//   end_session.exe [WINDOW_TITLE]   (default "logger")
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    const char* title = argc > 1 ? argv[1] : "logger";
    HWND window = FindWindowA(nullptr, title);
    if (window == nullptr) {
        std::fprintf(stderr, "end_session: no window titled %s\n", title);
        return 2;
    }
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer) == 0) {
        std::fprintf(stderr, "end_session: WM_QUERYENDSESSION was not answered\n");
        return 3;
    }
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutA(window, WM_ENDSESSION, answer != 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &ignored) ==
        0) {
        std::fprintf(stderr, "end_session: WM_ENDSESSION was not taken\n");
        return 4;
    }
    std::printf("end_session: the window answered %s\n", answer != 0 ? "yes" : "no");
    return answer != 0 ? 0 : 1;
}
