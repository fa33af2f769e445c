// The start-up screen and the operator's three questions, and the
// positioned-text conventions every stage of the logger writes with.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "app/run_settings.h"

// Moves to (row, column), sets foreground on white and writes text with a line end.
void write_at(int32_t row, int32_t column, int32_t foreground, std::string_view text);
// Blank-then-write: a run of blank_count spaces at (row, column), then the text
// at the same place, both with the colour pair set first and a line end after.
void blank_then_write(int32_t row, int32_t column, int32_t blank_count, int32_t foreground, std::string_view text);

// Stage 1 and 2: white screen, hidden pointer, the six banner lines.
void show_start_up_screen();
// Stages 3, 5, 6: ask until an allowed answer is typed.
int32_t ask_port_number();
double ask_run_length();
std::string ask_mode_letter();
// Stage 7: the starting message, a second's wait, a clear screen.
void announce_start();

// The banner lines of rows 3, 6 and 7, this program's own wording.
extern const std::string_view title_banner;
extern const std::string_view web_site_line;
extern const std::string_view toolchain_line;
