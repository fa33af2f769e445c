// The desktop's stated scale on Linux, from the environment and the X
// resources. Apart from window_sdl.cpp because Xlib's names (Window among
// them) clash with the program's own.
#include <X11/Xlib.h>

#include <cstdlib>

#include "gfx/window_sdl.h"

namespace {

// The number a whole text holds, within [low, high]; 0 otherwise.
double number_in(const char* text, double low, double high) {
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= low && value <= high)) return 0;
    return value;
}

}  // namespace

double stated_desktop_scale() {
    const double gdk_scale = number_in(std::getenv("GDK_SCALE"), 1, 8);
    if (gdk_scale > 0 && gdk_scale == static_cast<int>(gdk_scale)) return gdk_scale;
    // A connection of its own for a moment: SDL's is not at hand here.
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 0;
    const double dpi = number_in(XGetDefault(display, "Xft", "dpi"), 24, 960);
    XCloseDisplay(display);
    return dpi / 96;
}
