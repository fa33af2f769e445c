// The sampling loop: one exchange per chart column, paced so the run fills the chart.
#pragma once
#include <array>
#include <cstdint>

#include "app/run_settings.h"
#include "core/clock.h"

enum class RunEnding { no_reply, short_reply, escape, last_column };

constexpr int32_t first_column_x = 40;
constexpr int32_t last_column_x = 760;

// Seconds between columns: 60 * run length / 720.
double sample_interval_s(double run_length_min);
// When column x is due: (x - 40) sample intervals after the start; column 761's
// moment is the run's end.
double column_moment_s(int32_t x, double run_length_min);
// The elapsed time in the unit of the run: seconds, minutes or hours.
float elapsed_in_unit(double elapsed_s, double run_length_min);
// The first elapsed time after elapsed_s at which the elapsed-time readout
// shows other text than at elapsed_s.
double next_readout_change_s(double elapsed_s, double run_length_min);

// Where the loop stands: the column sampled next, the rows the traces continue
// from, the start time taken at the first column, and what it knows of the
// computer's sleep.
struct SamplingState {
    int32_t x = first_column_x;
    std::array<int32_t, 3> previous_rows{512, 512, 512};
    double start_s = 0.0;
    // The first column after a gap draws no segment back across it.
    bool trace_broken = false;
    SleepDetector sleep_detector;
    // A service said the computer is about to sleep; the run's data is not yet safe.
    bool sleep_coming = false;
};

enum class ColumnOutcome { sampled, no_reply, short_reply, port_gone };
enum class ClockResult { next_column, escape, computer_slept };

// One column: drain, request, the 50 ms wait, the reply's checks, conversion,
// readouts, data row and drawing. An empty or short reply, or a port that went
// away, is only reported: the caller ends the run or rides out the gap.
ColumnOutcome sample_column(const RunSettings& settings, SamplingState& state);
// Looks at the keyboard and the clock, rewriting the elapsed time whenever
// its text changes, until ESC, a sleep of the computer, or until column
// state.x is due.
ClockResult run_sample_clock(const RunSettings& settings, SamplingState& state);

// What the sampling loop and the gaps share.
double run_elapsed_s(const SamplingState& state);
void show_elapsed_time(const RunSettings& settings, double elapsed_s);
// Whether the computer slept since the last look, by the two clocks or a
// service's notice; a notice of a sleep to come sets state.sleep_coming.
bool computer_slept(SamplingState& state);
// A zero-byte reply is looked at once more before it counts as a silent
// module: a port gone by then is a pulled cable.
ColumnOutcome second_look_at_silent_port();
// Draws the switch strip's box, then a missed column's mark in it.
void mark_missed_column(int32_t x);
// The no-reply ending: its messages and its note row.
RunEnding end_with_no_reply();

// Samples every column until one of the four endings; shows the ending's
// messages, writes its note row, then does its wait (5 s after a failed
// reply, 1 s after the last column) before returning.
RunEnding run_sampling_loop(const RunSettings& settings);
