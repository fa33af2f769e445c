// The window that shows a Screen: the interface only. Each backend declares
// its own factory (window_headless.h, system_window.h).
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "screen/screen.h"

class Window {
public:
    virtual ~Window() = default;
    // Opens the 800x600 window titled `title` and starts showing `screen`
    // (for a real window: the display thread, when something changed). On failure returns
    // false and puts the cause into `error`.
    virtual bool open(Screen& screen, const std::string& title, std::string& error) = 0;
    // Stops the display and destroys the window; safe to call twice.
    virtual void close() = 0;
    // Places the pointer on window pixel (x, y) when x >= 0, kept inside the
    // frame (pointer_pixel); visible 1 shows it, 0 hides it over the client
    // area, negative keeps the setting.
    virtual void move_mouse(int32_t x, int32_t y, int32_t visible) = 0;
    // 1000 Hz for 250 ms; silently nothing where there is no audio device.
    virtual void play_tone() = 0;
    // A line that sums up the program's progress and stands for the text rows
    // first_row..last_row, whose readouts change too often to follow: only a
    // terminal view shows it.
    virtual void show_progress(std::string_view /*line*/, int32_t /*first_row*/, int32_t /*last_row*/) {}
};

// The frame pixel move_mouse(x, y) places the pointer on, x >= 0.
struct PointerPixel {
    int32_t x = 0;
    int32_t y = 0;
};
inline PointerPixel pointer_pixel(int32_t x, int32_t y)
{
    return {std::min(x, screen_width - 1), std::clamp(y, 0, screen_height - 1)};
}
