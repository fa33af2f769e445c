// The chart screen: grid, axis labels, switch-strip label and header line.
#pragma once
#include <cstdint>

#include "app/run_settings.h"

constexpr int32_t chart_left_x = 40;
constexpr int32_t chart_right_x = 760;
constexpr int32_t switch_strip_top_y = 580;
constexpr int32_t switch_strip_bottom_y = 590;

// Grid, time and value labels and "SW", then a second's wait.
void draw_chart(const RunSettings& settings);
// Row 1: the title, the ESC hint and the names of this run's two files.
void show_header_line(int32_t file_number);
// Red notice above the plot that this run's samples are not being stored.
void show_no_data_file_warning();
// Red notice beside it that no picture will be saved (every file number is taken).
void show_no_picture_warning();
