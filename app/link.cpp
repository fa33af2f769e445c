// The port check and the link protocol: open the chosen port, report a
// missing one, and prove the module answers with fifty sound exchanges.
#include "app/link.h"

#include <string>

#include "app/dialogue.h"
#include "core/clock.h"
#include "core/program_life.h"
#include "io/channels.h"
#include "screen/graphics.h"
#include "text/field_reader.h"

namespace {

constexpr int32_t link_column = 10;
constexpr int32_t request_wait_ms = 50;
constexpr int32_t missing_port_wait_ms = 3000;
constexpr int32_t failed_link_wait_ms = 5000;
// A drain pass that leaves as many bytes waiting as before is a stall; a few in
// a row mean the channel gives nothing back, so draining stops instead of spinning.
constexpr int32_t drain_stall_limit = 3;
// The refusal line runs from the link column to the right edge of the grid.
constexpr size_t refusal_line_length = 100 - link_column + 1;

// The system's words on one row: line breaks and other control bytes become spaces.
std::string one_row(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = ' ';
    }
    return text;
}

// The line that says why a port that exists cannot be opened; empty for a
// port that is not there (its screen stays as it always was).
std::string refusal_line(int32_t port_number, const PortRefusal& refusal)
{
    const std::string com = "COM" + std::to_string(port_number);
    // The device path follows the COM name where it has one and the line has room.
    auto with_device = [&](const std::string& before, const std::string& after) {
        const std::string longer = before + " (" + refusal.device_path + ")" + after;
        return refusal.device_path.empty() || longer.size() > refusal_line_length ? before + after : longer;
    };
    switch (refusal.kind) {
    case PortRefusalKind::in_use:
        return with_device(com, " is in use by another program: close it and try again");
    case PortRefusalKind::no_permission:
        return with_device("No permission to open " + com, ": add your user to the dialout group, then log in again");
    case PortRefusalKind::settings_refused:
        return with_device(com, " refused the line settings (38400 baud, 8 data bits, no parity)");
    case PortRefusalKind::other:
        return (with_device(com, " cannot be opened: ") + one_row(refusal.system_message))
            .substr(0, refusal_line_length);
    default:
        return {};
    }
}

}  // namespace

bool checksum_holds(const ReadingRecord& record)
{
    // Unsigned arithmetic wraps like the module's 32-bit sum, without overflow.
    const uint32_t sum = static_cast<uint32_t>(record.ad1) + static_cast<uint32_t>(record.switch_state) +
                         static_cast<uint32_t>(record.ad2) + static_cast<uint32_t>(record.ad3);
    return static_cast<uint32_t>(record.checksum) == sum;
}

bool marker_holds(const ReadingRecord& record) { return record.marker == "X"; }

int64_t serial_bytes_waiting() { return channel_location(serial_channel); }

bool serial_port_gone() { return channel_device_gone(serial_channel); }

void drain_serial_channel()
{
    int32_t stalls = 0;
    int64_t waiting = serial_bytes_waiting();
    while (waiting > 0 && stalls < drain_stall_limit) {
        begin_channel_fields(serial_channel);
        (void)read_int_field();
        const int64_t after = serial_bytes_waiting();
        stalls = after >= waiting ? stalls + 1 : 0;
        waiting = after;
    }
}

void send_request()
{
    print_line(serial_channel, "X");
    // Not a pause: an end asked for from outside meanwhile is taken at the next
    // look at the keys, after the reply already asked for is read and kept.
    program_clock().sleep_ms(request_wait_ms);
}

ReadingRecord read_reading_record()
{
    ReadingRecord record;
    begin_channel_fields(serial_channel);
    record.marker = read_text_field();
    record.spare = read_int_field();
    record.switch_state = read_int_field();
    record.ad1 = read_int_field();
    record.ad2 = read_int_field();
    record.ad3 = read_int_field();
    record.checksum = read_int_field();
    return record;
}

bool run_link_test()
{
    for (int32_t exchange = 1; exchange <= link_test_exchanges; ++exchange) {
        drain_serial_channel();
        send_request();
        // The link test stores nothing: an end asked for meanwhile is taken at once.
        if (program_end_requested())
            throw EndRequested{};
        if (serial_bytes_waiting() == 0)
            return false;
        if (!checksum_holds(read_reading_record()))
            return false;
    }
    return true;
}

bool check_port_and_link(int32_t port_number)
{
    blank_then_write(11, link_column, 26, colour_black, "Testing for the COM Port.");
    open_channel_port(serial_channel, open_string_for_port(port_number), mode_random, access_default, lock_none, 0);
    if (error_code() != status_ok) {
        blank_then_write(12, link_column, 51, colour_red, "WARNING:SERIAL PORT IS NOT PRESENT: PROGRAM ENDING");
        const std::string reason = refusal_line(port_number, last_port_refusal());
        if (!reason.empty())
            blank_then_write(13, link_column, static_cast<int32_t>(reason.size()), colour_black, reason);
        pause_ms(missing_port_wait_ms);
        return false;
    }
    blank_then_write(12, link_column, 44, colour_black,
                     "Serial Port is present on computer. Now Testing Data Transfer...");
    if (!run_link_test()) {
        blank_then_write(13, link_column, 40, colour_red,
                         "Data Transfer failed: KORVELIN Module not found: Check Power & Port #");
        pause_ms(failed_link_wait_ms);
        return false;
    }
    blank_then_write(13, link_column, 24, colour_black, "Serial Port Speed is OK");
    return true;
}
