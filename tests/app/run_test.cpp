// Whole runs of the logger in one process: headless screen, virtual time and
// a fake module, from the first prompt to the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/data_file.h"
#include "app/run_settings.h"
#include "app/sampling.h"
#include "app/start_place.h"
#include "core/sleep_notices.h"
#include "program_fixture.h"
#include "screen/snapshot.h"
#include "screen_reading.h"
#include "text/value_format.h"

namespace {

constexpr uint8_t red = 4;
constexpr uint8_t black = 0;
constexpr uint8_t yellow = 14;

// Seconds field (second column) of a data row.
double seconds_of(const std::string& row)
{
    const size_t first = row.find(',');
    return std::strtod(row.c_str() + first + 1, nullptr);
}

int32_t count_vertical_grid_lines(const Screen& screen)
{
    int32_t lines = 0;
    for (int32_t x = 40; x <= 760; ++x)
        if (screen.pixel(x, 300) == 7 && screen.pixel(x, 120) == 7)
            ++lines;
    return lines;
}

}  // namespace

TEST(WholeRun, one_minute_run_samples_721_columns_in_the_documented_rows_and_ends_a_second_after_the_last)
{
    ProgramFixture program;
    start_run(program);
    use_local_time_source([](std::tm& t) {
        t = std::tm{};
        t.tm_hour = 12;
        t.tm_min = 34;
        t.tm_sec = 56;
        return true;
    });
    double start_s = 0;
    program.module.on_request = [&](int32_t n) {
        if (n == 51)  // first request of the run, after the 50 link-test exchanges
            start_s = static_cast<double>(program.clock.now_ns()) * 1e-9;
    };

    EXPECT_EQ(program.run(), 0);
    use_local_time_source({});

    const auto rows = program.data_rows("DATA001.CSV");
    ASSERT_EQ(rows.size(), 722u);
    EXPECT_EQ(rows[0], "\"Time\",\"Seconds\",\"Marker\",\"Switch\",\"AD1\",\"AD2\",\"AD3\",\"Checksum\","
                       "\"V1\",\"V2\",\"V3\",\"T1\",\"T2\",\"T3\"");
    // Split at the row ends, so each row, this one too, ended in "\r\n".
    EXPECT_EQ(rows[1], "\"12:34:56\",0,\"X\",1,512,512,512,1537,2.56,2.56,2.56,77.00001,77.00001,77.00001");
    EXPECT_NEAR(seconds_of(rows[2]), 1.0 / 12 + 0.05, 0.01);
    EXPECT_NEAR(seconds_of(rows[721]), 60.05, 0.01);
    EXPECT_EQ(program.module.requests, 50 + 721);
    const double end_s = static_cast<double>(program.clock.now_ns()) * 1e-9;
    EXPECT_NEAR(end_s - start_s, 721.0 / 12 + 1.0, 0.02);
    EXPECT_EQ(std::filesystem::file_size(program.folder / "BMP001.BMP"), 481078u);
    EXPECT_EQ(text_at(program.screen, 1, 53, 22, black), "Data File: DATA001.CSV");
    EXPECT_EQ(text_at(program.screen, 1, 77, 22, black), "Image File: BMP001.BMP");
    EXPECT_EQ(text_at(program.screen, 3, 60, 7, black), "Seconds");
}

TEST(WholeRun, sixty_and_1440_minute_runs_space_their_samples_and_grids)
{
    struct Case {
        const char* minutes;
        double interval_s;
        int32_t grid_lines;
        const char* unit;
    };
    for (const Case& c : {Case{"60", 5.0, 13, "Minutes"}, Case{"1440", 120.0, 25, "Hours"}}) {
        ProgramFixture program;
        start_run(program, c.minutes, "T");
        program.clock.set_step_per_reading_us(1);
        int64_t waits = 0;
        program.module.on_request = [&](int32_t n) {
            if (n == 51)
                program.clock.set_on_sleep([&](int64_t) { ++waits; });
        };
        EXPECT_EQ(program.run(), 0);
        // The clock wakes when the readout's last digit (a thousandth of the unit) changes, not 100 times a second.
        const double digit_s = std::string(c.unit) == "Hours" ? 3.6 : 0.06;
        EXPECT_LT(waits, 720 * (c.interval_s / digit_s + 4)) << c.minutes;
        const auto rows = program.data_rows("DATA001.CSV");
        ASSERT_EQ(rows.size(), 722u) << c.minutes;
        const double tolerance_s = 5e-6;
        EXPECT_NEAR(seconds_of(rows[2]) - seconds_of(rows[1]), c.interval_s + 0.05, tolerance_s);
        EXPECT_NEAR(seconds_of(rows[721]), 720 * c.interval_s + 0.05, tolerance_s);
        EXPECT_EQ(count_vertical_grid_lines(program.screen), c.grid_lines);
        EXPECT_EQ(text_at(program.screen, 3, 60, static_cast<int32_t>(std::string(c.unit).size()), black), c.unit);
        EXPECT_EQ(text_at(program.screen, 4, 2, 3, black), "225");
    }
}

TEST(WholeRun, the_readout_is_due_again_exactly_where_its_text_first_changes)
{
    for (const double minutes : {1.0, 60.0, 1440.0}) {
        const auto text = [&](double s) { return picture_text("#####.###", elapsed_in_unit(s, minutes)); };
        for (double e = 0.0; e < 61.0 * minutes; e += minutes / 47.3) {
            const double change_s = next_readout_change_s(e, minutes);
            EXPECT_NE(text(change_s), text(e)) << minutes << " min at " << e;
            EXPECT_EQ(text(std::nextafter(change_s, 0.0)), text(e)) << minutes << " min at " << e;
        }
    }
}

TEST(WholeRun, a_late_column_delays_only_itself)
{
    ProgramFixture program;
    start_run(program);
    program.module.on_request = [&](int32_t n) {
        if (n == 50 + 11)  // column 50 takes a whole second
            program.clock.advance_ms(1000);
    };
    EXPECT_EQ(program.run(), 0);
    const auto rows = program.data_rows("DATA001.CSV");
    ASSERT_EQ(rows.size(), 722u);
    // The columns after the late one follow back to back until the clock has caught up.
    const double late = seconds_of(rows[11]);
    EXPECT_NEAR(late, 10.0 / 12 + 1.05, 0.01);
    EXPECT_LT(seconds_of(rows[12]) - late, 0.06);
    EXPECT_NEAR(seconds_of(rows[100]), 99.0 / 12 + 0.05, 0.01);
    EXPECT_NEAR(seconds_of(rows[721]), 60.05, 0.01);
}

TEST(WholeRun, escape_ends_the_run_at_the_next_poll_and_the_close_button_does_not)
{
    ProgramFixture program;
    start_run(program);
    program.module.on_request = [&](int32_t n) {
        if (n == 50 + 5)
            program.screen.queue_key(key_close_window);
        if (n == 50 + 10)
            program.screen.queue_key(key_escape);
    };
    EXPECT_EQ(program.run(), 0);
    const auto rows = program.data_rows("DATA001.CSV");
    // The column being processed when ESC arrives is still stored and drawn.
    EXPECT_EQ(rows.size(), 1u + 10u);
    EXPECT_TRUE(program.file_exists("BMP001.BMP"));

    // So is the column being asked for when an end is requested from outside.
    ProgramFixture ended;
    start_run(ended);
    ended.module.on_request = [&](int32_t n) {
        if (n == 50 + 10)
            ended.life.request_end();
    };
    ended.run();
    EXPECT_EQ(ended.data_rows("DATA001.CSV").size(), 1u + 10u);
    EXPECT_TRUE(ended.file_exists("BMP001.BMP"));
}

TEST(WholeRun, the_clock_sleeps_between_columns_yet_takes_each_at_its_threshold_and_escape_at_once)
{
    ProgramFixture program;
    start_run(program);
    program.clock.set_step_per_reading_us(1);
    double escape_s = 0;
    program.module.on_request = [&](int32_t n) {
        if (n == 50 + 300)  // from here on, ESC arrives during the clock's first wait
            program.clock.set_on_sleep([&](int64_t delay_ms) {
                if (delay_ms <= 10 && escape_s == 0) {
                    escape_s = static_cast<double>(program.clock.now_ns()) * 1e-9;
                    program.screen.queue_key(key_escape);
                }
            });
    };
    EXPECT_EQ(program.run(), 0);
    const auto rows = program.data_rows("DATA001.CSV");
    ASSERT_EQ(rows.size(), 1u + 300u);
    for (size_t i = 2; i < rows.size(); ++i)
        EXPECT_NEAR(seconds_of(rows[i]), static_cast<double>(i - 1) / 12 + 0.05, 0.001) << i;
    EXPECT_LT(static_cast<double>(program.clock.now_ns()) * 1e-9 - escape_s, 0.001);
    // Spinning would read the clock once per microsecond: some 80,000 times a column.
    EXPECT_LT(program.clock.readings(), 300 * 100);
}

TEST(WholeRun, odd_replies_give_their_marks_messages_and_note_rows)
{
    struct Case {
        std::string mode;
        int32_t odd_request;  // the one reply that is odd
        std::string odd_reply;
        int32_t usual_switch;
        int32_t escape_at;  // 0: the run ends by itself
        size_t rows;
        std::vector<std::pair<size_t, std::string>> row_parts;
        std::vector<std::tuple<int32_t, int32_t, std::string>> red_texts;
        bool yellow_mark = false;  // column 42's, where no trace crosses it
    };
    const Case cases[] = {
        {"V",
         53,
         "X,0,1,512,512,512,9\r\n",
         1,
         56,
         8,
         {{3, ",9,"}, {4, "\"Serial Error in Above Data Line\""}},
         {{27, 10, "Checksum Data Error in Yellow"}},
         true},
        {"T",
         52,
         "Y,0,1,512,512,512,1537\r\n",
         0,
         54,
         5,
         {{2, ",\"Y\",1,"}},
         {{28, 10, "DATA ERROR: First Character received is not X"}, {2, 22, "T1=  77.0 "}}},
        // 20 bytes: one short of a reply the loop will read; 21 are read.
        {"V",
         53,
         "X,0,1,10,10,10,31\r\n ",
         1,
         0,
         4,
         {{3, "\"Program is ending early because of an incomplete data string. \""}},
         {{7, 30, "INPUT ERROR: INCOMPLETE DATA: PROGRAM ENDING"},
          {8, 30, "Check Battery or Power Supply to DATALOGGER"}}},
        {"V", 52, "X,0,1,10,10,10,31\r\n  ", 1, 53, 4, {{2, ",1,10,10,10,31,"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.odd_reply);
        ProgramFixture program;
        start_run(program, "1", c.mode);
        program.module.reply_for = [&c](int32_t n) {
            return n == c.odd_request ? c.odd_reply : module_reply(c.usual_switch, 512, 512, 512);
        };
        program.module.on_request = [&](int32_t n) {
            if (n == c.escape_at)
                program.screen.queue_key(key_escape);
        };
        EXPECT_EQ(program.run(), 0);
        const auto rows = program.data_rows("DATA001.CSV");
        ASSERT_EQ(rows.size(), c.rows);
        for (const auto& [index, part] : c.row_parts)
            EXPECT_NE(rows[index].find(part), std::string::npos) << rows[index];
        for (const auto& [row, column, text] : c.red_texts)
            EXPECT_EQ(text_at(program.screen, row, column, static_cast<int32_t>(text.size()), red), text);
        if (c.yellow_mark) {
            EXPECT_EQ(program.screen.pixel(42, 60), yellow);
            EXPECT_EQ(program.screen.pixel(42, 540), yellow);
            EXPECT_TRUE(cell_is_blank(program.screen, 28, 10));
        }
    }
}

TEST(WholeRun, a_silent_module_ends_the_run_with_the_no_reply_messages_and_note)
{
    ProgramFixture program;
    start_run(program);
    program.module.reply_for = [](int32_t n) { return n <= 50 + 7 ? module_reply(1, 300, 400, 500) : ""; };
    // A sleep announced during the ending's 5 s wait goes ahead at once and cuts the wait short by nothing.
    bool sleep_went_ahead = false;
    int64_t announced_ns = -1;
    program.on_wait = [&](int64_t delay_ms) {
        if (delay_ms >= 4000 && announced_ns < 0 && program.module.requests > 50) {
            announced_ns = program.clock.now_ns();
            sleep_went_ahead = program_sleep_notices().announce_sleep(2000);
        }
    };
    EXPECT_EQ(program.run(), 0);
    EXPECT_TRUE(sleep_went_ahead);
    EXPECT_GE(program.clock.now_ns() - announced_ns, 4'900'000'000);
    const auto rows = program.data_rows("DATA001.CSV");
    ASSERT_EQ(rows.size(), 1u + 7u + 1u);
    EXPECT_EQ(rows.back(), "\"Program is ending early because no data was received from datalogger. \"");
    EXPECT_EQ(text_at(program.screen, 5, 30, 45, red), "INPUT ERROR: NO DATA RECEIVED: PROGRAM ENDING");
    EXPECT_EQ(text_at(program.screen, 6, 30, 44, red), "Check Power, Check Serial Cable, Check COM #");
    EXPECT_TRUE(program.file_exists("BMP001.BMP"));
}

TEST(FileNumber, the_first_free_number_is_taken_and_existing_files_are_left_alone)
{
    ProgramFixture program;
    std::ofstream(program.folder / "DATA001.CSV") << "old one";
    std::ofstream(program.folder / "BMP002.BMP") << "old two";  // a picture without its data file
    std::ofstream(program.folder / "DATA003.CSV") << "old three";
    start_run(program);
    press_escape_at_column(program, 2);
    program.run();
    EXPECT_EQ(program.read_file("DATA001.CSV"), "old one");
    EXPECT_EQ(program.read_file("BMP002.BMP"), "old two");
    EXPECT_EQ(program.read_file("DATA003.CSV"), "old three");
    EXPECT_EQ(program.data_rows("DATA004.CSV").size(), 3u);
    EXPECT_TRUE(program.file_exists("BMP004.BMP"));
}

// Either name made by another program between the look and the creates takes
// the number; the run's own picture is made with its data file, and only the
// run's own picture (or BMP000.BMP) is ever written.
TEST(FileNumber, a_name_made_between_the_look_and_the_create_takes_its_number)
{
    for (const std::string taken : {"DATA001.CSV", "BMP001.BMP"}) {
        ProgramFixture program;
        const auto make_first = [&](int32_t n) {
            if (n == 1)
                std::ofstream(program.folder / taken) << "old";
        };
        EXPECT_EQ(choose_data_file(make_first), 2) << taken;
        program.channels.close_all();
        EXPECT_EQ(program.read_file(taken), "old");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(program.folder), {}), 3) << taken;
        EXPECT_TRUE(save_run_picture(1) == status_not_allowed && save_run_picture(2) == status_ok);
        EXPECT_EQ(program.read_file("BMP002.BMP").size(), 481078u);
        EXPECT_EQ(program.read_file(taken), "old");
    }
}

TEST(FileNumber, with_all_999_names_taken_the_run_goes_on_unrecorded_replaces_no_picture_and_says_so)
{
    ProgramFixture program;
    for (int32_t n = 1; n <= 999; ++n)
        std::ofstream(program.folder / data_file_name(n)) << n;
    start_run(program);
    press_escape_at_column(program, 3);
    EXPECT_EQ(program.run(), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(program.folder), {}), 999);
    EXPECT_EQ(program.read_file("DATA001.CSV"), "1");
    EXPECT_EQ(text_at(program.screen, 3, 67, 27, red), "NO IMAGE FILE WILL BE SAVED");
    EXPECT_EQ(text_at(program.screen, 3, 2, 21, red), "WARNING: NO DATA FILE");
}

TEST(StartUp, a_refused_port_saves_bmp000_with_its_reason_below_the_warning_and_a_missing_one_without)
{
    const std::string path = "/dev/serial/by-id/usb-adapter-if00-port0";
    struct Case {
        PortRefusal refusal;
        const char* line;  // row 13, black; empty: the row stays blank
    } cases[] = {
        {{PortRefusalKind::missing, "", "/dev/ttyUSB0"}, ""},
        {{PortRefusalKind::in_use, "", "/dev/ttyUSB0"},
         "COM4 (/dev/ttyUSB0) is in use by another program: close it and try again"},
        {{PortRefusalKind::no_permission, "", "/dev/ttyUSB0"},
         "No permission to open COM4: add your user to the dialout group, then log in again"},
        {{PortRefusalKind::settings_refused, "", path},
         "COM4 refused the line settings (38400 baud, 8 data bits, no parity)"},  // no room for the path
        {{PortRefusalKind::other, "A device attached to the system is not functioning\r\nat all, ever", ""},
         "COM4 cannot be opened: A device attached to the system is not functioning  at all, ever"},
        {{PortRefusalKind::other, std::string(80, 'x'), ""},
         "COM4 cannot be opened: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
    };
    for (const Case& c : cases) {
        ProgramFixture program;
        program.port_present = false;
        program.port_refusal = c.refusal;
        program.type_line("4");
        const int64_t before_ms = program.clock.total_slept_ms();
        EXPECT_EQ(program.run(), 0);
        EXPECT_EQ(program.port_open_strings, std::vector<std::string>{"COM4:38400,n,8,1,cs0,cd0,ds0,rs"});
        EXPECT_EQ(std::filesystem::file_size(program.folder / "BMP000.BMP"), 481078u);
        EXPECT_FALSE(program.file_exists("DATA001.CSV"));
        EXPECT_EQ(text_at(program.screen, 12, 10, 50, red), "WARNING:SERIAL PORT IS NOT PRESENT: PROGRAM ENDING");
        const std::string line = c.line;
        EXPECT_EQ(text_at(program.screen, 13, 10, static_cast<int32_t>(line.size()), black), line) << c.line;
        for (int32_t column = 10 + static_cast<int32_t>(line.size()); column <= 100; ++column)
            EXPECT_TRUE(cell_is_blank(program.screen, 13, column)) << c.line << " column " << column;
        EXPECT_GE(program.clock.total_slept_ms() - before_ms, 3000);
    }
}

TEST(StartUp, a_program_is_inside_the_temporary_folder_only_when_its_folder_lies_below_it)
{
    const char* temp = "C:\\Users\\Ann\\AppData\\Local\\Temp\\";
    EXPECT_TRUE(program_lies_inside("C:\\Users\\Ann\\AppData\\Local\\Temp\\Temp1_logger.zip\\logger.exe", temp));
    EXPECT_TRUE(program_lies_inside("c:/users/ann/appdata/local/TEMP/logger.exe", temp));
    EXPECT_FALSE(program_lies_inside("C:\\Users\\Ann\\AppData\\Local\\Temp2\\logger.exe", temp));
    EXPECT_FALSE(program_lies_inside("C:\\Users\\Ann\\Downloads\\logger\\logger.exe", temp));
    EXPECT_FALSE(program_lies_inside("C:\\logger.exe", ""));
}

TEST(StartUp, the_link_test_fails_on_a_module_silent_after_49_replies_or_a_bad_checksum_but_ignores_the_marker)
{
    struct Case {
        const char* name;
        std::function<std::string(int32_t)> reply_for;
        int32_t requests;
        bool linked;  // the run started, and ended at its first column without a reply
    } cases[] = {
        {"silent", [](int32_t n) { return n <= 49 ? module_reply(0, 1, 2, 3) : ""; }, 50, false},
        {"checksum", [](int32_t n) { return n == 17 ? "X,0,0,1,1,1,4\r\n" : module_reply(0, 1, 1, 1); }, 17, false},
        {"marker", [](int32_t n) { return n <= 50 ? "Q,5,0,0,0,0,0\r\n" : ""; }, 51, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFixture program;
        start_run(program);
        program.module.reply_for = c.reply_for;
        EXPECT_EQ(program.run(), 0);
        EXPECT_EQ(program.module.requests, c.requests);
        EXPECT_EQ(program.file_exists("BMP000.BMP"), !c.linked);
        if (c.linked) {
            EXPECT_EQ(program.data_rows("DATA001.CSV").size(), 2u);
        } else {
            EXPECT_EQ(text_at(program.screen, 13, 10, 69, red),
                      "Data Transfer failed: KORVELIN Module not found: Check Power & Port #");
            EXPECT_FALSE(program.file_exists("DATA001.CSV"));
        }
    }
}

namespace {

struct GapRun {
    std::vector<std::string> rows;
    std::vector<int32_t> missed;  // the columns marked missed in the switch strip
};

// A one-minute run whose request `request` finds the port gone (the computer
// asleep for asleep_ms meanwhile); the port is back after absent_opens looks.
// The time of day follows the virtual clock.
GapRun run_with_gap(ProgramFixture& program, int32_t request, int64_t asleep_ms, int32_t absent_opens)
{
    start_run(program);
    use_local_time_source([&program](std::tm& local_time) {
        const int64_t s = 36'000 + program.clock.now_ns() / 1'000'000'000;
        local_time.tm_hour = static_cast<int>(s / 3600 % 24);
        local_time.tm_min = static_cast<int>(s / 60 % 60);
        local_time.tm_sec = static_cast<int>(s % 60);
        return true;
    });
    program.module.on_request = [&program, request, asleep_ms, absent_opens](int32_t n) {
        if (n == request) {
            program.module.gone = true;
            program.absent_opens = absent_opens;
            program.clock.sleep_computer_ms(asleep_ms);
        }
    };
    EXPECT_EQ(program.run(), 0);
    use_local_time_source({});
    GapRun run{program.data_rows("DATA001.CSV"), {}};
    for (int32_t x = 40; x <= 760; ++x)
        if (program.screen.pixel(x, 581) == 8 && program.screen.pixel(x, 589) == 8)
            run.missed.push_back(x);
    return run;
}

// Seconds of day of the note's two times.
int32_t note_span_s(const std::string& note)
{
    auto at = [&note](size_t offset) {
        return std::stoi(note.substr(offset, 2)) * 3600 + std::stoi(note.substr(offset + 3, 2)) * 60 +
               std::stoi(note.substr(offset + 6, 2));
    };
    return at(26) - at(14);
}

}  // namespace

TEST(Gaps, a_port_away_for_five_seconds_leaves_its_columns_marked_one_note_row_and_no_burst)
{
    ProgramFixture program;
    const GapRun run = run_with_gap(program, 50 + 11, 0, 10);
    // Columns 40-49 sampled, 50 on missed until the check passed some 5.2 s later.
    ASSERT_FALSE(run.missed.empty());
    EXPECT_EQ(run.missed.front(), 50);
    EXPECT_NEAR(run.missed.back(), 40 + 6.0 * 12, 3);
    EXPECT_EQ(run.missed.back() - 50 + 1, static_cast<int32_t>(run.missed.size()));
    ASSERT_EQ(run.rows.size(), 1u + 721u - run.missed.size() + 1u);
    const std::string& note = run.rows[11];
    EXPECT_TRUE(std::regex_match(
        note, std::regex(R"("No data from \d\d:\d\d:\d\d to \d\d:\d\d:\d\d: COM3 was disconnected\. ")")))
        << note;
    EXPECT_NEAR(note_span_s(note), (run.missed.back() - 50) / 12.0, 1.0);
    // The first column after the gap is sampled on time, and none is crowded in.
    EXPECT_NEAR(seconds_of(run.rows[12]), (run.missed.back() + 1 - 40) / 12.0 + 0.05, 0.02);
    for (size_t i = 13; i < run.rows.size(); ++i)
        EXPECT_GT(seconds_of(run.rows[i]) - seconds_of(run.rows[i - 1]), 0.07) << i;
    // Row 7 tells the same times as the note.
    EXPECT_EQ(text_at(program.screen, 7, 30, 47, black), "COM3 was disconnected " + note.substr(9, 25));
    EXPECT_EQ(program.module.requests, 50 + 721 - static_cast<int32_t>(run.missed.size()) + 1 + 3);
}

TEST(Gaps, a_sleep_is_the_gaps_cause_one_across_the_end_ends_the_run_and_a_silent_return_the_no_reply_ending)
{
    struct Case {
        int32_t request;
        int64_t asleep_ms;
        int32_t last_missed;  // 0: sampling goes on after the gap
        std::string last_row;
    };
    const std::string no_reply = "\"Program is ending early because no data was received from datalogger. \"";
    for (const Case& c :
         {Case{50 + 80, 15'000, 0, ""}, Case{50 + 700, 30'000, 760, ""}, Case{50 + 11, 0, 54, no_reply}}) {
        ProgramFixture program;
        if (!c.last_row.empty())
            program.module.reply_for = [](int32_t n) { return n <= 50 + 11 ? module_reply(1, 512, 512, 512) : ""; };
        const GapRun run = run_with_gap(program, c.request, c.asleep_ms, 0);
        const int32_t first_missed = c.request - 50 + 39;
        ASSERT_FALSE(run.missed.empty());
        EXPECT_EQ(run.missed.front(), first_missed);
        EXPECT_NEAR(run.missed.back(), c.last_missed == 0 ? first_missed + 15.2 * 12 : c.last_missed, 3);
        const size_t data_rows = c.last_missed == 0 ? 721u - run.missed.size() : static_cast<size_t>(first_missed - 40);
        EXPECT_EQ(run.missed.back() == 760, c.last_missed == 760);
        EXPECT_EQ(run.rows.size(), 1u + data_rows + 1u + (c.last_row.empty() ? 0u : 1u));
        const std::string& note = run.rows[static_cast<size_t>(first_missed - 40 + 1)];
        const bool slept = c.asleep_ms > 0;
        EXPECT_NE(note.find(slept ? ": the computer was asleep. \"" : ": COM3 was disconnected. \""),
                  std::string::npos);
        if (slept) {
            EXPECT_EQ(text_at(program.screen, 7, 30, 18, black), "The computer slept");
        } else {
            EXPECT_EQ(run.rows.back(), c.last_row);
        }
        EXPECT_TRUE(program.file_exists("BMP001.BMP"));
    }
}
