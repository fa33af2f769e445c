// The sampling loop: one exchange per chart column, paced so the run fills the chart.
#pragma once
#include <cstdint>

#include "app/run_settings.h"

enum class RunEnding { no_reply, short_reply, escape, last_column };

constexpr int32_t first_column_x = 40;
constexpr int32_t last_column_x = 760;

// Seconds between columns: 60 * run length / 720.
double sample_interval_s(double run_length_min);
// The elapsed time in the unit of the run: seconds, minutes or hours.
float elapsed_in_unit(double elapsed_s, double run_length_min);

// Samples every column until one of the four endings; shows the ending's
// messages, writes its note row and does its wait before returning.
RunEnding run_sampling_loop(const RunSettings& settings);
