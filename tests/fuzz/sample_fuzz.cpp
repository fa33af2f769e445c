// Fuzzes one whole sample of the logger with arbitrary module bytes: stale
// bytes waiting before the request and a reply that arrives with it, through
// an in-memory serial channel; drain, request, reply tests, checksum and marker
// rules, conversion, readouts, data row, drawing and the sample clock. Input:
// flags (mode, run length, ESC), two bytes of column, one byte of stale length,
// the stale bytes, then the reply.
// Properties: exactly one request goes out; a sampled column stores exactly one
// complete data row (and the checksum note when its rule failed), an ended one
// stores nothing; stored readings are clamped and every number is finite; the
// sample clock ends on ESC or when the next column is due.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/data_file.h"
#include "app/run_settings.h"
#include "app/sampling.h"
#include "core/clock.h"
#include "display/window_headless.h"
#include "fuzz_check.h"
#include "io/channels.h"
#include "memory_devices.h"
#include "screen/graphics.h"
#include "text/field_reader.h"
#include "text/value_format.h"

namespace {

struct Program {
    Program()
    {
        use_error_status(&status);
        use_program_clock(&clock);
        use_screen(&screen);
        use_channels(&channels);
        use_field_reader(&reader);
        // Keys reach the program only through an open window: a headless one here.
        set_window_factory(make_headless_window);
        open_graphics_window();
    }
    ~Program()
    {
        close_graphics_window();
        channels.close_all();
        use_field_reader(nullptr);
        use_channels(nullptr);
        use_screen(nullptr);
        use_program_clock(nullptr);
        use_error_status(nullptr);
    }
    ErrorStatus status;
    VirtualClock clock;
    Screen screen{status};
    ChannelTable channels{status};
    FieldReader reader{status, screen, channels, clock};
};

RunSettings settings_from(uint8_t flags)
{
    static const double lengths[] = {1.0, 60.0, 1440.0, 1.0};
    RunSettings settings;
    settings.port_number = 3;
    settings.run_length_min = lengths[(flags >> 1) & 3u];
    settings.unit_label = unit_label_for(settings.run_length_min);
    settings.mode_letter = (flags & 1u) ? "T" : "V";
    return settings;
}

std::vector<std::string> split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + separator.size())
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

bool is_finite_number(const std::string& field)
{
    if (field.empty())
        return false;
    char* end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    return end == field.c_str() + field.size() && std::isfinite(value);
}

// A data row whose marker holds no comma: the fields sit where the header says.
void check_plain_data_row(const std::string& row)
{
    const std::vector<std::string> fields = split(row, ",");
    if (fields.size() != 14)
        return;
    FUZZ_CHECK(fields[0] == "\"12:34:56\"");
    for (size_t i = 4; i <= 6; ++i) {
        const long reading = std::strtol(fields[i].c_str(), nullptr, 10);
        FUZZ_CHECK(reading >= 1 && reading <= 1023);
    }
    for (size_t i : {1, 3, 7, 8, 9, 10, 11, 12, 13})
        FUZZ_CHECK(is_finite_number(fields[i]));
}

void check_stored_rows(const std::string& stored, ColumnOutcome outcome)
{
    if (outcome != ColumnOutcome::sampled) {
        FUZZ_CHECK(stored.empty());
        return;
    }
    FUZZ_CHECK(stored.size() >= 2 && stored.compare(stored.size() - 2, 2, "\r\n") == 0);
    std::vector<std::string> rows = split(stored.substr(0, stored.size() - 2), "\r\n");
    FUZZ_CHECK(rows.size() == 1 || rows.size() == 2);
    if (rows.size() == 2)
        FUZZ_CHECK(rows[1] == "\"" + std::string(checksum_note) + "\"");
    check_plain_data_row(rows[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    static const bool fixed_time = [] {
        use_local_time_source([](std::tm& t) {
            t = std::tm{};
            t.tm_hour = 12;
            t.tm_min = 34;
            t.tm_sec = 56;
            return true;
        });
        return true;
    }();
    (void)fixed_time;

    const uint8_t flags = data[0];
    const RunSettings settings = settings_from(flags);
    const bool escape_pressed = (flags & 0x10u) != 0;
    const int32_t x = first_column_x + (data[1] | (data[2] << 8)) % (last_column_x - first_column_x + 1);
    const size_t stale_length = std::min<size_t>(data[3], size - 4);
    const std::string stale(reinterpret_cast<const char*>(data + 4), stale_length);
    const std::string reply(reinterpret_cast<const char*>(data + 4 + stale_length), size - 4 - stale_length);

    Program program;
    MemoryDevice::Shared module;
    module.incoming.assign(stale.begin(), stale.end());
    module.request = "X\r\n";
    module.reply = reply;
    MemoryDevice::Shared data_file;
    program.channels.open_on_device(serial_channel, std::make_unique<MemoryDevice>(module), mode_binary,
                                    access_read_write);
    program.channels.open_on_device(data_channel, std::make_unique<MemoryDevice>(data_file), mode_binary,
                                    access_read_write);

    // The run is on time: this column is due now.
    const double interval_s = sample_interval_s(settings.run_length_min);
    SamplingState state;
    state.x = x;
    state.start_s = program.clock.seconds() - (x - first_column_x) * interval_s;

    const ColumnOutcome outcome = sample_column(settings, state);
    FUZZ_CHECK(module.requests == 1);
    check_stored_rows(data_file.written, outcome);
    if (outcome == ColumnOutcome::sampled) {
        for (int32_t row : state.previous_rows)
            FUZZ_CHECK(row >= 50 && row <= 550);
        if (escape_pressed)
            program.screen.queue_key(key_escape);
        // Eight readings of the clock per interval: the clock loop ends within a few passes.
        program.clock.set_step_per_reading_us(static_cast<int64_t>(interval_s * 1e6 / 8));
        ++state.x;
        const ClockResult result = run_sample_clock(settings, state);
        FUZZ_CHECK(result == (escape_pressed ? ClockResult::escape : ClockResult::next_column));
    }
    const CellPosition cursor = program.screen.cursor_position();
    FUZZ_CHECK(cursor.row >= 1 && cursor.row <= text_rows && cursor.column >= 1 && cursor.column <= text_columns);
    return 0;
}
