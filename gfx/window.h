// The window that shows a Screen: one interface, one file per backend
// (window_sdl.cpp or window_win32.cpp for the system's real window,
// window_headless.cpp for tests and runs without a display).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class Screen;

class Window {
public:
    virtual ~Window() = default;
    // Opens the 800x600 window titled `title` and starts showing `screen`
    // (for a real window: the display thread, when something changed). On failure returns
    // false and puts the cause into `error`.
    virtual bool open(Screen& screen, const std::string& title, std::string& error) = 0;
    // Stops the display and destroys the window; safe to call twice.
    virtual void close() = 0;
    // Places the pointer on window pixel (x, y) when x >= 0; visible 1 shows it,
    // 0 hides it over the client area, negative keeps the setting.
    virtual void move_mouse(int32_t x, int32_t y, int32_t visible) = 0;
    // 1000 Hz for 250 ms; silently nothing where there is no audio device.
    virtual void play_tone() = 0;
    // A line that sums up the program's progress and stands for the text rows
    // first_row..last_row, whose readouts change too often to follow: only a
    // terminal view shows it.
    virtual void show_progress(std::string_view /*line*/, int32_t /*first_row*/, int32_t /*last_row*/) {}
};

// A measuring aid: a window with a display thread calls the observer after each
// pass, with the monotonic seconds at which the pass began to wait for the screen
// lock, took it, released it, and had its frame on show. No observer (the
// default) costs one load per pass.
struct DisplayPassTimes {
    double began_s;
    double locked_s;
    double released_s;
    double shown_s;
};
using DisplayPassObserver = void (*)(const DisplayPassTimes& times);
void set_display_pass_observer(DisplayPassObserver observer);
DisplayPassObserver display_pass_observer();

std::unique_ptr<Window> make_headless_window();
// The system's real window: defined in window_sdl.cpp on Linux and in
// window_win32.cpp on Windows (library gfx_window).
std::unique_ptr<Window> make_system_window();
