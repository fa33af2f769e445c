// The program's runtime screen operations: thin functions over the one Screen
// and the one Window the program uses. Tests may install their own Screen.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "screen/draw_line.h"
#include "screen/screen.h"
#include "screen/window.h"

Screen& the_screen();
void use_screen(Screen* screen);  // nullptr restores the program's own

// How open_graphics_window makes its window: the program picks its display,
// a test its own; there is none until one is set (nullptr: none again).
void set_window_factory(std::function<std::unique_ptr<Window>()> factory);
// The window title; empty (the default) means the program file's name without folder or extension.
void set_window_title(std::string title);
Window* the_window();  // null until opened

// Opens the window; on failure returns false, sets the status to 1 and keeps
// the cause for window_open_error().
bool open_graphics_window();
const std::string& window_open_error();
void close_graphics_window();

void set_text_colours(int32_t foreground, int32_t background);
void clear_window();
void move_cursor(int32_t row, int32_t column);
CellPosition cursor_position();
GridSize text_grid_size();
void write_text(std::string_view text, bool line_end);
void finish_pending_line_end();
void move_mouse(int32_t x, int32_t y, int32_t visible);
std::string poll_key();
bool key_waiting();
void pause_ms(int64_t delay_ms);
double seconds_clock();
// Sleeps until the clock reads wake_s, or less when a key arrives, the end is
// requested or the program's thread is woken (program_life.h); it may wake a
// little late (the clock's wake margin), but never past deadline_s.
void wait_for_key_until(double wake_s, double deadline_s);
void sound_tone();
// The program's progress, for a window with a terminal view (see Window::show_progress).
void show_progress(std::string_view line, int32_t first_row, int32_t last_row);
void draw_line(float x1, float y1, float x2, float y2, int32_t colour, LineKind kind, uint16_t style);
int32_t save_snapshot(std::string_view file_name);
