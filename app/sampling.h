// The sampling loop: one exchange per chart column, paced so the run fills the chart.
#pragma once
#include <array>
#include <cstdint>

#include "app/run_settings.h"

enum class RunEnding { no_reply, short_reply, escape, last_column };

constexpr int32_t first_column_x = 40;
constexpr int32_t last_column_x = 760;

// Seconds between columns: 60 * run length / 720.
double sample_interval_s(double run_length_min);
// The elapsed time in the unit of the run: seconds, minutes or hours.
float elapsed_in_unit(double elapsed_s, double run_length_min);
// The first elapsed time after elapsed_s at which the elapsed-time readout
// shows other text than at elapsed_s.
double next_readout_change_s(double elapsed_s, double run_length_min);

// Where the loop stands: the column, the rows the traces continue from, and
// the start time taken at the first column.
struct SamplingState {
    int32_t x = first_column_x;
    std::array<int32_t, 3> previous_rows{512, 512, 512};
    double start_s = 0.0;
};

enum class ColumnOutcome { sampled, no_reply, short_reply };
enum class ClockResult { next_column, escape };

// One column: drain, request, the 50 ms wait, the reply's checks, conversion,
// readouts, data row and drawing. An empty or short reply is only reported:
// the caller ends the run.
ColumnOutcome sample_column(const RunSettings& settings, SamplingState& state);
// Looks at the keyboard and the clock, rewriting the elapsed time whenever
// its text changes, until ESC or until the column's threshold has passed.
ClockResult run_sample_clock(const RunSettings& settings, const SamplingState& state);

// Samples every column until one of the four endings; shows the ending's
// messages, writes its note row and does its wait before returning.
RunEnding run_sampling_loop(const RunSettings& settings);
