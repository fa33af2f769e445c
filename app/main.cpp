// The logger program: refuses a start from a folder the system deletes,
// watches for end requests from outside and for the computer's sleep, asks
// for a fine timer, picks the window backend, runs the logger, and closes
// every channel and the window on the way out.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/logger.h"
#include "app/start_place.h"
#include "core/end_signals.h"
#include "core/power.h"
#include "core/program_life.h"
#include "core/sleep_watch.h"
#include "core/stdout_text.h"
#include "display/stdin_keys.h"
#include "display/system_window.h"
#include "display/terminal_view.h"
#include "display/window_headless.h"
#include "io/channels.h"
#include "screen/graphics.h"

namespace {

bool headless_requested()
{
    const char* backend = std::getenv("LOGGER_WINDOW");
    return backend != nullptr && std::strcmp(backend, "headless") == 0;
}

// LOGGER_WINDOW=terminal: no window either, and the screen's text and the
// run's progress written to standard output for a person at a terminal.
bool terminal_view_requested()
{
    const char* backend = std::getenv("LOGGER_WINDOW");
    return backend != nullptr && std::strcmp(backend, "terminal") == 0;
}

std::unique_ptr<Window> make_terminal_view()
{
    return std::make_unique<TerminalViewWindow>(make_headless_window(), write_stdout_text);
}

}  // namespace

// The window's title is left to its default: the program file's name without
// folder and extension.
int main()
{
    if (!start_place_is_safe())
        return 1;
    // Before any other thread starts: the signals' mask is inherited.
    watch_end_signals(request_program_end);
    start_sleep_watch();
    hold_fine_timer();
    // Without a window, keys come from standard input.
    StdinKeys stdin_keys;
    if (headless_requested())
        set_window_factory([&stdin_keys] { return std::make_unique<StdinKeysWindow>(stdin_keys); });
    else if (terminal_view_requested())
        set_window_factory(
            [&stdin_keys] { return std::make_unique<StdinKeysWindow>(stdin_keys, make_terminal_view()); });
    else
        set_window_factory(make_system_window);
    const int exit_status = run_logger();
    close_all_channels();
    close_graphics_window();
    release_fine_timer();
    stop_sleep_watch();
    stop_watching_end_signals();
    return exit_status;
}
