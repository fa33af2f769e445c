// Fuzzes the serial open string: the parser, and the whole open of a channel
// on it against a stand-in for the kernel's serial calls (every call succeeds,
// every modem line is on), so that any settings the parser lets through reach
// the line set-up and the line checks.
// Properties: an accepted string written back in a plain form parses to the
// same settings; letter case never changes the result; an open either leaves
// the channel open with status 0 or closed with status 1, 2 or 8.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>

#include "core/clock.h"
#include "fuzz_check.h"
#include "io/channels.h"
#include "io/posix_serial_calls.h"
#include "io/serial_options.h"

namespace {

class AgreeableSerialCalls final : public PosixSerialCalls {
public:
    int open_path(const char*, int) override { return 1000; }
    int close_fd(int) override { return 0; }
    ssize_t read_bytes(int, void*, size_t) override { return 0; }
    ssize_t write_bytes(int, const void*, size_t count) override { return static_cast<ssize_t>(count); }
    int poll_fd(pollfd* entry, int) override
    {
        entry->revents = entry->events;
        return 1;
    }
    bool is_terminal(int) override { return true; }
    int lock_exclusive(int) override { return 0; }
    int unlock(int) override { return 0; }
    int set_exclusive(int) override { return 0; }
    int clear_exclusive(int) override { return 0; }
    int get_attributes(int, termios* settings) override
    {
        *settings = termios{};
        return 0;
    }
    int set_attributes(int, const termios*) override { return 0; }
    int get_modem_lines(int, int* lines) override
    {
        *lines = TIOCM_CD | TIOCM_DSR | TIOCM_CTS;
        return 0;
    }
    int set_modem_lines(int, int) override { return 0; }
    int clear_modem_lines(int, int) override { return 0; }
    int bytes_queued(int, int* count) override
    {
        *count = 0;
        return 0;
    }
};

const char* parity_letter(Parity parity)
{
    switch (parity) {
    case Parity::none:
        return "N";
    case Parity::even:
        return "E";
    case Parity::odd:
        return "O";
    case Parity::space:
        return "S";
    case Parity::mark:
        break;
    }
    return "M";
}

const char* stop_bits_text(StopBits stop_bits)
{
    switch (stop_bits) {
    case StopBits::one:
        return "1";
    case StopBits::one_and_half:
        return "1.5";
    case StopBits::two:
        break;
    }
    return "2";
}

// Every setting spelled out, in the order and form the parser reads.
std::string plain_open_string(uint32_t port_number, const SerialOptions& o)
{
    std::string text = "COM" + std::to_string(port_number) + ":" + std::to_string(o.speed_bps) + "," +
                       parity_letter(o.parity) + "," + std::to_string(o.data_bits) + "," + stop_bits_text(o.stop_bits);
    const auto number = [&](const char* name, uint32_t value) {
        text += std::string(",") + name + std::to_string(value);
    };
    number("CS", o.cts_time_ms);
    number("DS", o.dsr_time_ms);
    number("CD", o.cd_time_ms);
    number("OP", o.open_time_ms);
    number("TB", o.transmit_buffer_bytes);
    number("RB", o.receive_buffer_bytes);
    number("IR", o.interrupt_number);
    const auto flag = [&](bool on, const char* name) {
        if (on)
            text += std::string(",") + name;
    };
    flag(o.suppress_rts, "RS");
    flag(o.add_line_feed, "LF");
    flag(o.check_parity, "PE");
    flag(o.keep_dtr, "DT");
    flag(o.discard_on_error, "FE");
    flag(o.ignore_all_errors, "ME");
    return text;
}

// The plain form spells out every setting, so equal forms mean equal settings.
bool same_settings(const SerialOptions& a, const SerialOptions& b)
{
    return plain_open_string(0, a) == plain_open_string(0, b);
}

std::string swapped_case(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

void check_parser(const std::string& open_string)
{
    uint32_t port_number = 0;
    SerialOptions options;
    const bool accepted = parse_open_string(open_string, port_number, options);

    uint32_t other_port = 0;
    SerialOptions other;
    FUZZ_CHECK(parse_open_string(swapped_case(open_string), other_port, other) == accepted);
    if (!accepted)
        return;
    FUZZ_CHECK(other_port == port_number && same_settings(other, options));

    const std::string plain = plain_open_string(port_number, options);
    FUZZ_CHECK(parse_open_string(plain, other_port, other));
    FUZZ_CHECK(other_port == port_number && same_settings(other, options));
}

void check_open(const std::string& open_string)
{
    static AgreeableSerialCalls calls;
    static ErrorStatus status;
    static VirtualClock clock;
    use_posix_serial_calls(&calls);
    use_program_clock(&clock);
    ChannelTable channels(status);
    channels.open_port(2, open_string, mode_random, access_default, lock_none, 0);
    const int32_t code = status.code();
    FUZZ_CHECK(code == status_ok || code == status_not_allowed || code == status_cannot_open ||
               code == status_query_failed);
    FUZZ_CHECK(channels.is_open(2) == (code == status_ok));
    if (code == status_ok) {
        channels.print_line(2, "X");
        FUZZ_CHECK(status.code() == status_ok);
        FUZZ_CHECK(channels.location(2) == 0);
        channels.close(2);
        FUZZ_CHECK(status.code() == status_ok && !channels.is_open(2));
    }
    use_program_clock(nullptr);
    use_posix_serial_calls(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Port numbers name entries of a folder that is never read: the stand-in opens anything.
    static const bool ports_set = setenv("LOGGER_PORTS", "/nonexistent/fuzz-ports", 1) == 0;
    (void)ports_set;
    const std::string open_string(reinterpret_cast<const char*>(data), size);
    check_parser(open_string);
    check_open(open_string);
    return 0;
}
