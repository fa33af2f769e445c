// The logger program: picks the window backend, runs the logger, and closes
// every channel and the window on the way out.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/logger.h"
#include "app/start_place.h"
#include "gfx/graphics.h"
#include "gfx/stdin_keys.h"
#include "io/channels.h"

namespace {

bool headless_requested()
{
    const char* backend = std::getenv("LOGGER_WINDOW");
    return backend != nullptr && std::strcmp(backend, "headless") == 0;
}

}  // namespace

// The window's title is left to its default: the program file's name without
// folder and extension.
int main()
{
    if (!start_place_is_safe())
        return 1;
    // Without a window, keys come from standard input.
    StdinKeys stdin_keys;
    if (headless_requested())
        set_window_factory([&stdin_keys] { return std::make_unique<StdinKeysWindow>(stdin_keys); });
    else
        set_window_factory(make_system_window);
    const int exit_status = run_logger();
    close_all_channels();
    close_graphics_window();
    return exit_status;
}
