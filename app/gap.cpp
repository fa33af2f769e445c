// A gap in a run: the computer asleep or the port away. The port is closed at
// once (so that a returning adapter gets its old name back), looked for about
// twice a second and checked with three exchanges before sampling goes on;
// every column whose moment passed meanwhile is marked as missed and gets no
// data row, and one note row tells the gap's times and cause.
#include "app/gap.h"

#include <cstdio>
#include <limits>
#include <string>

#include "app/data_file.h"
#include "app/dialogue.h"
#include "app/link.h"
#include "core/error_status.h"
#include "core/sleep_notices.h"
#include "io/channels.h"
#include "screen/graphics.h"
#include "text/value_format.h"

namespace {

constexpr double look_period_s = 0.5;
// A sleep notice that no resume follows counts at most this long.
constexpr double longest_unanswered_sleep_s = 60.0;
constexpr int32_t check_exchanges = 3;
constexpr int32_t gap_row = 7;
constexpr int32_t gap_column = 30;
constexpr int32_t gap_row_blanks = 58;

struct Gap {
    bool slept = false;
    int32_t first_x = 0;  // the first column the gap may miss
    int32_t next_x = 0;   // the first column not marked missed
    bool waiting_shown = false;
};

enum class PortReturn { back, away, failed };

std::string com_name(const RunSettings& settings) { return join_text("COM", int_to_text(settings.port_number)); }

void show_gap_line(int32_t colour, const std::string& text)
{
    blank_then_write(gap_row, gap_column, gap_row_blanks, colour, text);
}

void mark_missed_through(Gap& gap, const RunSettings& settings, double until_s)
{
    while (gap.next_x <= last_column_x && column_moment_s(gap.next_x, settings.run_length_min) <= until_s) {
        mark_missed_column(gap.next_x);
        ++gap.next_x;
    }
}

bool missed_any(const Gap& gap) { return gap.next_x > gap.first_x; }

// The times of day at which the first and the last missed column were due,
// read from one look at the clock so that the note and row 7 agree.
struct MissedTimes {
    std::string first;
    std::string last;
};

MissedTimes missed_times(const RunSettings& settings, const SamplingState& state, const Gap& gap)
{
    const double now_s = run_elapsed_s(state);
    auto time_of_column = [&](int32_t x) {
        return time_of_day_text_before(now_s - column_moment_s(x, settings.run_length_min));
    };
    return {time_of_column(gap.first_x), time_of_column(gap.next_x - 1)};
}

std::string from_to_text(const MissedTimes& times) { return "from " + times.first + " to " + times.last; }

std::string gap_cause_text(const RunSettings& settings, const Gap& gap)
{
    return gap.slept ? std::string("the computer was asleep") : com_name(settings) + " was disconnected";
}

void write_gap_note(const RunSettings& settings, const Gap& gap, const MissedTimes& times)
{
    write_note_row("No data " + from_to_text(times) + ": " + gap_cause_text(settings, gap) + ". ");
}

// Row 7 after the gap: where it was and why.
void show_gap_over(const RunSettings& settings, const Gap& gap, const MissedTimes& times)
{
    if (gap.slept)
        show_gap_line(colour_black, "The computer slept " + from_to_text(times));
    else
        show_gap_line(colour_black, com_name(settings) + " was disconnected " + from_to_text(times));
}

// The note row, and row 7 unless the caller shows its own line there.
void report_gap(const RunSettings& settings, const SamplingState& state, const Gap& gap, bool show_on_row_7)
{
    if (!missed_any(gap)) {
        if (show_on_row_7 && gap.waiting_shown)
            show_gap_line(colour_black, "");
        return;
    }
    const MissedTimes times = missed_times(settings, state, gap);
    write_gap_note(settings, gap, times);
    if (show_on_row_7)
        show_gap_over(settings, gap, times);
}

// The data on disk and the picture so far, the port closed: all a sleep could lose.
void make_run_safe(const RunSettings& settings, SamplingState& state)
{
    close_channel(serial_channel);
    if (data_file_is_open()) {
        sync_channel(data_channel);
        if (error_code() != status_ok)
            std::fprintf(stderr, "logger: %s could not be written to the disk before the computer slept\n",
                         data_file_name(settings.file_number).c_str());
    }
    if (settings.file_number <= last_file_number && save_run_picture(settings.file_number) != 0)
        std::fprintf(stderr, "logger: the chart so far could not be saved as %s before the computer slept\n",
                     picture_name(settings.file_number).c_str());
    state.sleep_coming = false;
    program_sleep_notices().sleep_prepared();
}

// The same adapter again (never another), opened with the run's settings.
bool reopen_serial_port() { return reopen_channel_port(serial_channel) == ReopenOutcome::opened; }

// Three exchanges like the link test's, none stored: the module is back, not just the port.
PortReturn check_returned_port()
{
    drain_serial_channel();
    for (int32_t exchange = 1; exchange <= check_exchanges; ++exchange) {
        drain_serial_channel();
        send_request();
        const int64_t waiting = serial_bytes_waiting();
        if (serial_port_gone())
            return PortReturn::away;
        if (waiting == 0)
            return second_look_at_silent_port() == ColumnOutcome::port_gone ? PortReturn::away : PortReturn::failed;
        if (waiting < minimum_reply_bytes)
            return PortReturn::failed;
        const bool sound = checksum_holds(read_reading_record());
        if (serial_port_gone())
            return PortReturn::away;
        if (!sound)
            return PortReturn::failed;
    }
    return PortReturn::back;
}

PortReturn find_port_again()
{
    if (!reopen_serial_port())
        return PortReturn::away;
    const PortReturn result = check_returned_port();
    if (result == PortReturn::away)
        close_channel(serial_channel);
    return result;
}

// Sampling goes on at the first column after the moment the check passed.
void carry_on_after_gap(const RunSettings& settings, SamplingState& state, Gap& gap)
{
    mark_missed_through(gap, settings, run_elapsed_s(state));
    state.x = gap.next_x;
    state.trace_broken = true;
    report_gap(settings, state, gap, true);
}

// The run's end passed in the gap: every column left is missed, and the run
// ends as after its last column.
RunEnding end_run_in_gap(const RunSettings& settings, SamplingState& state, Gap& gap)
{
    mark_missed_through(gap, settings, std::numeric_limits<double>::infinity());
    if (gap.slept || !missed_any(gap)) {
        report_gap(settings, state, gap, true);
        return RunEnding::last_column;
    }
    const MissedTimes times = missed_times(settings, state, gap);
    write_gap_note(settings, gap, times);
    show_gap_line(colour_red, com_name(settings) + " was disconnected from " + times.first + " to the end of the run");
    return RunEnding::last_column;
}

}  // namespace

std::optional<RunEnding> ride_out_gap(const RunSettings& settings, SamplingState& state, GapCause cause)
{
    Gap gap{cause == GapCause::computer_asleep, state.x, state.x, false};
    close_channel(serial_channel);
    bool asleep = false;
    double asleep_since_s = 0.0;
    const double run_end_s = column_moment_s(last_column_x + 1, settings.run_length_min);
    for (;;) {
        // Any sleep in the gap makes it the sleep's, and is the port's reason to be found again.
        if (computer_slept(state)) {
            gap.slept = true;
            asleep = false;
        }
        if (state.sleep_coming) {
            make_run_safe(settings, state);
            asleep = true;
            asleep_since_s = run_elapsed_s(state);
        }
        const double now_s = run_elapsed_s(state);
        mark_missed_through(gap, settings, now_s);
        show_elapsed_time(settings, now_s);
        if (now_s > run_end_s)
            return end_run_in_gap(settings, state, gap);
        if (poll_key() == "\x1b") {
            report_gap(settings, state, gap, false);
            return RunEnding::escape;
        }
        if (asleep && now_s - asleep_since_s > longest_unanswered_sleep_s)
            asleep = false;
        if (!asleep) {
            switch (find_port_again()) {
            case PortReturn::back:
                carry_on_after_gap(settings, state, gap);
                return std::nullopt;
            case PortReturn::failed:
                mark_missed_through(gap, settings, run_elapsed_s(state));
                report_gap(settings, state, gap, false);
                return end_with_no_reply();
            case PortReturn::away:
                break;
            }
            if (!gap.waiting_shown)
                show_gap_line(colour_red, com_name(settings) + " was disconnected: plug it back in to carry on");
            gap.waiting_shown = true;
        }
        const double look_s = state.start_s + run_elapsed_s(state) + look_period_s;
        wait_for_key_until(look_s, look_s);
    }
}
