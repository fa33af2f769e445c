// The sampling loop of a run: exchange, tests, conversion, readouts, data row,
// drawing, then the sample clock that looks at the keyboard until the next
// column is due. Thresholds count from the start time, so a late column delays
// only itself. The clock sleeps between its looks instead of spinning, so a
// day-long run costs next to nothing of the processor. A port that goes away
// or a computer that sleeps leaves a gap (gap.cpp), never a burst of columns.
#include "app/sampling.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "app/chart.h"
#include "app/conversion.h"
#include "app/data_file.h"
#include "app/dialogue.h"
#include "app/gap.h"
#include "app/link.h"
#include "core/program_life.h"
#include "core/sleep_notices.h"
#include "io/channels.h"
#include "screen/graphics.h"
#include "text/value_format.h"

namespace {

constexpr int32_t no_reply_wait_ms = 5000;
constexpr int32_t last_column_wait_ms = 1000;
// How long a silent port is given to say that it went away.
constexpr int64_t second_look_ms = 250;
// The elapsed-time readout is rewritten at most this often: once per display pass.
constexpr double readout_period_s = 0.010;
// A wake for the readout aims this far past the moment its text changes, so
// that the clock's rounding of the moment cannot end the wait a hair before it.
constexpr double readout_wake_lag_s = 1e-6;
// Bounds the searches for the next change: each starts a step or two away.
constexpr int32_t search_steps = 64;
constexpr std::string_view elapsed_picture = "Elapsed Time: #####.###";

struct Readout {
    int32_t column;
    int32_t colour;
    std::string_view volts_template;
    std::string_view degrees_template;
};

constexpr std::array<Readout, 3> readouts{{
    {22, colour_red, "V1= #.###", "T1= ###.#"},
    {42, colour_blue, "V2= #.###", "T2= ###.#"},
    {62, colour_green, "V3= #.###", "T3= ###.#"},
}};

constexpr std::array<int32_t, 3> trace_colours{colour_red, colour_blue, colour_green};

void write_picture_at(int32_t row, int32_t column, int32_t colour, std::string_view picture_template, float value)
{
    move_cursor(row, column);
    set_text_colours(colour, colour_white);
    begin_picture(picture_template);
    picture_single(value, true, true);
    end_picture();
}

void draw_segment(float x1, float y1, float x2, float y2, int32_t colour)
{
    draw_line(x1, y1, x2, y2, colour, LineKind::line, style_solid);
}

void mark_checksum_failure(int32_t x)
{
    write_at(27, 10, colour_red, "Checksum Data Error in Yellow");
    draw_segment(static_cast<float>(x), static_cast<float>(chart_top_y), static_cast<float>(x),
                 static_cast<float>(chart_bottom_y), colour_yellow);
}

void show_readouts(const RunSettings& settings, const ConvertedReadings& converted)
{
    const bool degrees = settings.mode_letter == "T";
    for (size_t i = 0; i < readouts.size(); ++i) {
        const Readout& readout = readouts[i];
        // The blank run keeps whatever foreground is set: the background is white either way.
        move_cursor(2, readout.column);
        write_text("          ", true);
        write_picture_at(2, readout.column, readout.colour, degrees ? readout.degrees_template : readout.volts_template,
                         degrees ? converted.temperatures_f[i] : converted.volts[i]);
    }
}

// One line per column for a terminal view: the column, the elapsed time and
// the readouts as the screen shows them.
void show_column_progress(const RunSettings& settings, const SamplingState& state, double elapsed_s,
                          const ConvertedReadings& converted)
{
    const bool degrees = settings.mode_letter == "T";
    std::string line = "Column " + std::to_string(state.x - first_column_x + 1) + "/" +
                       std::to_string(last_column_x - first_column_x + 1) + "  " +
                       picture_text(elapsed_picture, elapsed_in_unit(elapsed_s, settings.run_length_min)) + " " +
                       settings.unit_label;
    for (size_t i = 0; i < readouts.size(); ++i)
        line += "  " + picture_text(degrees ? readouts[i].degrees_template : readouts[i].volts_template,
                                    degrees ? converted.temperatures_f[i] : converted.volts[i]);
    // Rows 2 and 3 hold the readouts and the elapsed time.
    show_progress(line, 2, 3);
}

void draw_traces(SamplingState& state, const ConvertedReadings& converted)
{
    const auto x = static_cast<float>(state.x);
    if (state.x != first_column_x && !state.trace_broken)
        for (size_t i = 0; i < trace_colours.size(); ++i)
            draw_segment(x, static_cast<float>(converted.rows[i]), x - 1.0f, static_cast<float>(state.previous_rows[i]),
                         trace_colours[i]);
    state.previous_rows = converted.rows;
    state.trace_broken = false;
}

void draw_switch_box()
{
    draw_line(static_cast<float>(chart_left_x), static_cast<float>(switch_strip_top_y),
              static_cast<float>(chart_right_x), static_cast<float>(switch_strip_bottom_y), colour_light_grey,
              LineKind::box_outline, style_solid);
}

void draw_switch_tick(int32_t x, int32_t switch_state)
{
    draw_switch_box();
    const auto column = static_cast<float>(x);
    if (switch_state == 0)
        draw_segment(column, 590.0f, column, 585.0f, colour_red);
    else if (switch_state == 1)
        draw_segment(column, 584.0f, column, 580.0f, colour_green);
}

// The first single after `value` whose readout text differs from value's:
// near the point halfway to the next shown digit, then stepped to the exact one.
float next_shown_value(float value)
{
    const std::string shown = picture_text(elapsed_picture, value);
    const double halfway = (std::floor(static_cast<double>(value) * 1000.0 + 0.5) + 0.5) / 1000.0;
    float next = std::max(static_cast<float>(halfway), std::nextafter(value, INFINITY));
    for (int32_t i = 0; i < search_steps && picture_text(elapsed_picture, next) == shown; ++i)
        next = std::nextafter(next, INFINITY);
    for (int32_t i = 0; i < search_steps; ++i) {
        const float before = std::nextafter(next, -INFINITY);
        if (!(before > value) || picture_text(elapsed_picture, before) == shown)
            break;
        next = before;
    }
    return next;
}

RunEnding end_without_reply(std::string_view first_line, std::string_view second_line, int32_t first_row,
                            std::string_view note, RunEnding ending)
{
    write_at(first_row, 30, colour_red, first_line);
    write_at(first_row + 1, 30, colour_red, second_line);
    write_note_row(note);
    return ending;
}

RunEnding end_with_short_reply()
{
    // Row 7 may still tell of an earlier gap.
    blank_then_write(7, 30, 58, colour_red, "");
    return end_without_reply("INPUT ERROR: INCOMPLETE DATA: PROGRAM ENDING",
                             "Check Battery or Power Supply to DATALOGGER", 7, short_reply_note,
                             RunEnding::short_reply);
}

// Waits until column state.x is due; a sleep of the computer meanwhile is
// ridden out as a gap. The run's ending, or nothing when the column is due.
std::optional<RunEnding> wait_for_column(const RunSettings& settings, SamplingState& state)
{
    for (;;) {
        switch (run_sample_clock(settings, state)) {
        case ClockResult::escape:
            return RunEnding::escape;
        case ClockResult::next_column:
            return std::nullopt;
        case ClockResult::computer_slept:
            if (const auto ending = ride_out_gap(settings, state, GapCause::computer_asleep))
                return ending;
            break;
        }
    }
}

// A run's thread hears of the computer's sleep while it samples.
class SleepListening {
public:
    SleepListening() { program_sleep_notices().listen(wake_program_thread); }
    ~SleepListening()
    {
        program_sleep_notices().stop_listening();
        // A wake asked for the run's sake must not cut the ending's wait short.
        (void)program_life().take_wake_request();
    }
    SleepListening(const SleepListening&) = delete;
    SleepListening& operator=(const SleepListening&) = delete;
};

}  // namespace

double sample_interval_s(double run_length_min) { return (60.0 * run_length_min) / 720.0; }

double column_moment_s(int32_t x, double run_length_min)
{
    return static_cast<double>(x - first_column_x) * sample_interval_s(run_length_min);
}

double run_elapsed_s(const SamplingState& state) { return seconds_clock() - state.start_s; }

void show_elapsed_time(const RunSettings& settings, double elapsed_s)
{
    write_picture_at(3, 30, colour_black, elapsed_picture, elapsed_in_unit(elapsed_s, settings.run_length_min));
    write_at(3, 60, colour_black, settings.unit_label);
}

bool computer_slept(SamplingState& state)
{
    const SleepNews news = program_sleep_notices().take_news();
    if (news.sleep_coming)
        state.sleep_coming = true;
    // A resume heard with its notice comes too late to prepare: the sleep is over.
    if (news.resumed && state.sleep_coming) {
        state.sleep_coming = false;
        program_sleep_notices().sleep_prepared();
    }
    Clock& clock = program_clock();
    const bool jumped = state.sleep_detector.slept(clock.seconds(), clock.awake_seconds());
    return jumped || news.sleep_coming || news.resumed;
}

ColumnOutcome second_look_at_silent_port()
{
    // Not a pause: a key typed meanwhile must not cut the look short.
    program_clock().sleep_ms(second_look_ms);
    return probe_channel_device_gone(serial_channel) ? ColumnOutcome::port_gone : ColumnOutcome::no_reply;
}

void mark_missed_column(int32_t x)
{
    draw_switch_box();
    const auto column = static_cast<float>(x);
    draw_segment(column, 581.0f, column, 589.0f, colour_dark_grey);
}

RunEnding end_with_no_reply()
{
    return end_without_reply("INPUT ERROR: NO DATA RECEIVED: PROGRAM ENDING",
                             "Check Power, Check Serial Cable, Check COM #", 5, no_reply_note, RunEnding::no_reply);
}

float elapsed_in_unit(double elapsed_s, double run_length_min)
{
    // A clock gone wrong must not make the conversion to a single undefined.
    constexpr double largest_single = std::numeric_limits<float>::max();
    return static_cast<float>(
        std::clamp(elapsed_s / seconds_per_unit(run_length_min), -largest_single, largest_single));
}

// The readout shows a single rounded to three decimals, and both steps only
// ever go up with the time, so the text changes first where the single
// reaches the next shown value; the rounding into a single is stepped over
// exactly, so the moment is never late.
double next_readout_change_s(double elapsed_s, double run_length_min)
{
    const float value = elapsed_in_unit(elapsed_s, run_length_min);
    // Beyond the readout's five digits (a clock gone wrong) the text is no
    // longer a plain count: the readout is then simply rewritten every pass.
    if (!(std::fabs(value) < 1e5f) || !std::isfinite(elapsed_s))
        return elapsed_s + readout_period_s;
    const float next = next_shown_value(value);
    const double unit_s = seconds_per_unit(run_length_min);
    // The time halfway between the single below `next` and `next` rounds to
    // one of them: start there and step to the first that gives `next`.
    double moment_s = (static_cast<double>(std::nextafter(next, -INFINITY)) + static_cast<double>(next)) / 2.0 * unit_s;
    for (int32_t i = 0; i < search_steps && elapsed_in_unit(moment_s, run_length_min) < next; ++i)
        moment_s = std::nextafter(moment_s, INFINITY);
    for (int32_t i = 0; i < search_steps; ++i) {
        const double before_s = std::nextafter(moment_s, -INFINITY);
        if (!(before_s > elapsed_s) || elapsed_in_unit(before_s, run_length_min) < next)
            break;
        moment_s = before_s;
    }
    return std::max(moment_s, std::nextafter(elapsed_s, INFINITY));
}

ColumnOutcome sample_column(const RunSettings& settings, SamplingState& state)
{
    drain_serial_channel();
    if (state.x == first_column_x) {
        state.start_s = seconds_clock();
        (void)computer_slept(state);  // the clocks' difference at the start is the base
    }
    send_request();
    double elapsed_s = seconds_clock() - state.start_s;
    if (state.x == first_column_x)
        elapsed_s = 0.0;

    // A port whose device went away has no reply to give, whatever it counts.
    const int64_t waiting = serial_bytes_waiting();
    if (serial_port_gone())
        return ColumnOutcome::port_gone;
    if (waiting == 0)
        return second_look_at_silent_port();
    if (waiting < minimum_reply_bytes)
        return ColumnOutcome::short_reply;

    ReadingRecord record = read_reading_record();
    if (serial_port_gone())
        return ColumnOutcome::port_gone;  // the fields after the loss read as nothing: no sample
    const bool checksum_failed = !checksum_holds(record);
    if (checksum_failed)
        mark_checksum_failure(state.x);
    if (!marker_holds(record))
        write_at(28, 10, colour_red, "DATA ERROR: First Character received is not X");

    const ConvertedReadings converted = convert_reply(record, settings.mode_letter);
    show_column_progress(settings, state, elapsed_s, converted);
    show_readouts(settings, converted);
    write_data_row(elapsed_s, record, converted);
    if (checksum_failed)
        write_note_row(checksum_note);
    draw_traces(state, converted);
    draw_switch_tick(state.x, record.switch_state);
    return ColumnOutcome::sampled;
}

// Between its looks at the keys and the time the clock sleeps: until the
// readout's text changes (at most once per display pass) or the column is
// due, whichever comes first. A key or a sleep notice wakes it at once, and
// the column's moment is never overslept.
ClockResult run_sample_clock(const RunSettings& settings, SamplingState& state)
{
    const double threshold_s = column_moment_s(state.x, settings.run_length_min);
    for (;;) {
        if (poll_key() == "\x1b")
            return ClockResult::escape;
        if (computer_slept(state))
            return ClockResult::computer_slept;
        const double shown_s = seconds_clock() - state.start_s;
        show_elapsed_time(settings, shown_s);
        if (seconds_clock() - state.start_s > threshold_s)
            return ClockResult::next_column;
        const double readout_due_s = std::max(
            next_readout_change_s(shown_s, settings.run_length_min) + readout_wake_lag_s, shown_s + readout_period_s);
        wait_for_key_until(state.start_s + readout_due_s, state.start_s + threshold_s);
    }
}

namespace {

// Samples until one of the endings, whose messages and note row are then
// shown and written; the ending's wait is left to the caller.
RunEnding sample_until_ending(const RunSettings& settings)
{
    SamplingState state;
    const SleepListening listening;
    drain_serial_channel();
    for (;;) {
        switch (sample_column(settings, state)) {
        case ColumnOutcome::no_reply:
            return end_with_no_reply();
        case ColumnOutcome::short_reply:
            return end_with_short_reply();
        case ColumnOutcome::port_gone:
            if (const auto ending = ride_out_gap(settings, state, GapCause::port_gone))
                return *ending;
            break;
        case ColumnOutcome::sampled:
            ++state.x;
            break;
        }
        if (const auto ending = wait_for_column(settings, state))
            return *ending;
        if (state.x > last_column_x)
            return RunEnding::last_column;
    }
}

int64_t ending_wait_ms(RunEnding ending)
{
    switch (ending) {
    case RunEnding::no_reply:
    case RunEnding::short_reply:
        return no_reply_wait_ms;
    case RunEnding::last_column:
        return last_column_wait_ms;
    case RunEnding::escape:
        break;
    }
    return 0;
}

}  // namespace

// The ending's wait comes after the run stopped listening for sleeps, so a
// sleep announced meanwhile goes ahead at once instead of waiting for a run
// that no longer samples.
RunEnding run_sampling_loop(const RunSettings& settings)
{
    const RunEnding ending = sample_until_ending(settings);
    if (const int64_t wait_ms = ending_wait_ms(ending); wait_ms > 0)
        pause_ms(wait_ms);
    return ending;
}
