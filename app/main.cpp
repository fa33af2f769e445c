// The logger program: picks the window backend, runs the logger, and closes
// every channel and the window on the way out.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/logger.h"
#include "gfx/graphics.h"
#include "gfx/stdin_keys.h"
#include "io/channels.h"

namespace {

// The window's title is the program file's name without folder and extension.
std::string program_title(const char* argv0)
{
    std::string name = argv0 != nullptr ? argv0 : "logger";
    const size_t separator = name.find_last_of("/\\");
    if (separator != std::string::npos)
        name.erase(0, separator + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name.empty() ? std::string("logger") : name;
}

bool headless_requested()
{
    const char* backend = std::getenv("LOGGER_WINDOW");
    return backend != nullptr && std::strcmp(backend, "headless") == 0;
}

}  // namespace

int main(int /*argc*/, char** argv)
{
    set_window_title(program_title(argv[0]));
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
