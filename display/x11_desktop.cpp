// What the SDL window asks of X itself: the desktop's stated scale, the X
// connection it waits on, and the watch for a display that goes away. The
// only file that sees Xlib's names (Window and Screen among them), which
// clash with the program's own.
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "display/window_sdl.h"

namespace {

// The number a whole text holds, within [low, high]; 0 otherwise.
double number_in(const char* text, double low, double high)
{
    if (text == nullptr || *text == '\0')
        return 0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= low && value <= high))
        return 0;
    return value;
}

Display* x_display_of(SDL_Window* window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11)
        return nullptr;
    return info.info.x11.display;
}

std::atomic<void (*)(void*)> lost_display_action{nullptr};
std::atomic<void*> lost_display_context{nullptr};

// Xlib calls this on the thread that found a connection broken, whichever
// connection it was, and would end the process with exit() after it returns.
// The action given never returns, so no exit runs while the program is busy.
int on_broken_connection(Display*)
{
    std::fputs("logger: the connection to the X display is lost\n", stderr);
    void (*action)(void*) = lost_display_action.load();
    if (action != nullptr)
        action(lost_display_context.load());
    std::_Exit(1);  // no action given: end without the exit handlers that would touch the display
}

}  // namespace

double stated_desktop_scale()
{
    const double gdk_scale = number_in(std::getenv("GDK_SCALE"), 1, 8);
    if (gdk_scale > 0 && gdk_scale == static_cast<int>(gdk_scale))
        return gdk_scale;
    // A connection of its own for a moment: SDL's is not at hand here.
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 0;
    const double dpi = number_in(XGetDefault(display, "Xft", "dpi"), 24, 960);
    XCloseDisplay(display);
    return dpi / 96;
}

int x_connection_fd(SDL_Window* window)
{
    Display* display = x_display_of(window);
    return display != nullptr ? ConnectionNumber(display) : -1;
}

void watch_for_lost_x_display(void (*on_lost)(void* context), void* context)
{
    lost_display_context.store(context);
    lost_display_action.store(on_lost);
    XSetIOErrorHandler(on_broken_connection);
}
