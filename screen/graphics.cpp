// The program's one screen and window, and the runtime operations over them
// that report through the program's error status.
#include "screen/graphics.h"

#include <cstdlib>

#include "core/clock.h"
#include "core/error_status.h"
#include "core/program_file.h"
#include "screen/snapshot.h"

namespace {

struct GraphicsState {
    Screen* installed_screen = nullptr;
    std::function<std::unique_ptr<Window>()> window_factory;
    bool title_chosen = false;
    std::string title;
    std::unique_ptr<Window> window;
    Screen* shown_screen = nullptr;
    std::string open_error;
    bool closes_at_exit = false;
};

GraphicsState& graphics_state()
{
    static GraphicsState state;
    return state;
}

// The program's own status, even while a test has installed another: the
// program's screen outlives any test's status object.
ErrorStatus& program_error_status()
{
    ErrorStatus* installed = &error_status();
    use_error_status(nullptr);
    ErrorStatus& own = error_status();
    use_error_status(installed);
    return own;
}

Screen& program_screen()
{
    static Screen screen(program_error_status());
    return screen;
}

// The program file's name without its folder and extension.
std::string program_name()
{
    const std::string stem = program_file_stem();
    return stem.empty() ? std::string("logger") : stem;
}

void close_window_at_exit() { close_graphics_window(); }

}  // namespace

Screen& the_screen()
{
    Screen* installed = graphics_state().installed_screen;
    return installed != nullptr ? *installed : program_screen();
}

void use_screen(Screen* screen) { graphics_state().installed_screen = screen; }

void set_window_factory(std::function<std::unique_ptr<Window>()> factory)
{
    graphics_state().window_factory = std::move(factory);
}

void set_window_title(std::string title)
{
    GraphicsState& state = graphics_state();
    state.title_chosen = !title.empty();  // an empty title means the program's name
    state.title = std::move(title);
}

Window* the_window() { return graphics_state().window.get(); }

bool open_graphics_window()
{
    GraphicsState& state = graphics_state();
    if (state.window) {
        set_error_code(status_ok);  // opened once; a second opening changes nothing
        return true;
    }
    Screen& screen = the_screen();
    if (!state.closes_at_exit) {
        // Registered after the screen and the state exist, so it runs before they go away.
        state.closes_at_exit = std::atexit(close_window_at_exit) == 0;
    }
    std::unique_ptr<Window> window = state.window_factory ? state.window_factory() : nullptr;
    if (!window) {
        state.open_error = "no window backend is available";
        set_error_code(status_not_allowed);
        return false;
    }
    screen.reset_to_opened_state();
    const std::string title = state.title_chosen ? state.title : program_name();
    std::string error;
    if (!window->open(screen, title, error)) {
        state.open_error = error.empty() ? "the window could not be opened" : error;
        set_error_code(status_not_allowed);
        return false;
    }
    state.open_error.clear();
    Window* shown = window.get();
    screen.set_tone_player([shown] { shown->play_tone(); });
    state.window = std::move(window);
    state.shown_screen = &screen;
    set_error_code(status_ok);
    return true;
}

const std::string& window_open_error() { return graphics_state().open_error; }

void close_graphics_window()
{
    GraphicsState& state = graphics_state();
    if (!state.window)
        return;
    state.window->close();
    if (state.shown_screen != nullptr)
        state.shown_screen->set_tone_player({});
    state.shown_screen = nullptr;
    state.window.reset();
}

// Before the window is open (and after it closed) there is no screen to draw
// on: drawing, text and colour operations do nothing and no key is seen. Each
// leaves the status it always leaves; only move_mouse reports the missing window.
namespace {
bool window_is_open() { return the_window() != nullptr; }
}  // namespace

void set_text_colours(int32_t foreground, int32_t background)
{
    if (window_is_open())
        the_screen().set_text_colours(foreground, background);
}

void clear_window()
{
    if (window_is_open())
        the_screen().clear_window();
}

// The screen reports to the status it was built on; the runtime operations
// report to the one installed now, which is the same unless a test swapped it.
void move_cursor(int32_t row, int32_t column)
{
    if (window_is_open())
        the_screen().move_cursor(row, column);
    set_error_code(status_ok);
}

CellPosition cursor_position() { return the_screen().cursor_position(); }

GridSize text_grid_size() { return the_screen().text_grid_size(); }

void write_text(std::string_view text, bool line_end)
{
    if (window_is_open())
        the_screen().write_text(text, line_end);
    set_error_code(status_ok);
}

void finish_pending_line_end()
{
    if (window_is_open())
        the_screen().finish_pending_line_end();
}

void move_mouse(int32_t x, int32_t y, int32_t visible)
{
    Window* window = the_window();
    if (window == nullptr) {
        set_error_code(status_not_allowed);
        return;
    }
    window->move_mouse(x, y, visible);
    set_error_code(status_ok);
}

std::string poll_key()
{
    if (!window_is_open())
        return {};
    return the_screen().poll_key();
}

bool key_waiting()
{
    if (!window_is_open())
        return false;
    return the_screen().key_waiting();
}

// Without a window no key arrives, so the wait is never cut short.
void pause_ms(int64_t delay_ms)
{
    if (window_is_open())
        pause_ms(the_screen(), program_clock(), delay_ms);
    else if (delay_ms > 0)
        program_clock().sleep_ms(delay_ms);
}

double seconds_clock() { return program_clock().seconds(); }

void wait_for_key_until(double wake_s, double deadline_s)
{
    if (window_is_open()) {
        the_screen().wait_for_key_until(program_clock(), wake_s, deadline_s);
        return;
    }
    WakeSignal never_raised;
    program_clock().wait_until_deadline(wake_s, deadline_s, never_raised);
}

void sound_tone() { the_screen().sound_tone(); }

void show_progress(std::string_view line, int32_t first_row, int32_t last_row)
{
    if (Window* window = the_window())
        window->show_progress(line, first_row, last_row);
}

void draw_line(float x1, float y1, float x2, float y2, int32_t colour, LineKind kind, uint16_t style)
{
    if (window_is_open())
        draw_line(the_screen(), x1, y1, x2, y2, colour, kind, style);
}

// Writes the frame buffer as it stands, window or not.
int32_t save_snapshot(std::string_view file_name) { return save_snapshot(the_screen(), file_name, error_status()); }
