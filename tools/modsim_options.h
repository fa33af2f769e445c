// Command-line options of the module simulator: where it serves, what it answers,
// and which replies it spoils on purpose. Parsing is pure so tests need no pty.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reply numbers that a fault applies to: an explicit list, every K-th reply, or both.
// Replies are numbered from 1, the same as the requests they answer.
struct FaultSchedule {
    std::vector<uint64_t> reply_numbers;
    uint64_t every = 0;  // 0: no periodic fault

    bool includes(uint64_t reply_number) const;
    bool empty() const { return reply_numbers.empty() && every == 0; }
};

enum class SwitchMode { always_0, always_1, toggle };

struct ModsimOptions {
    // Where to serve: a COM link in a ports folder, a device path given as is, or
    // a unix socket another program listens on (an emulator's serial back end).
    std::string ports_dir;
    uint32_t port_number = 0;  // 0: not serving a COM link
    std::string device_path;
    std::string socket_path;

    // What the readings are: fixed values, or three slow waves by default.
    bool fixed_values = false;
    std::array<int32_t, 3> values{0, 0, 0};
    SwitchMode switch_mode = SwitchMode::toggle;
    int64_t switch_period_ms = 5000;
    int32_t spare = 0;

    // Timing and silence.
    int64_t delay_ms = 0;
    bool silent_after_set = false;
    uint64_t silent_after = 0;  // answers this many requests, then none
    uint64_t hangup_at = 0;     // 0: never hang up
    uint64_t vanish_at = 0;     // 0: the pseudo-terminal never goes away
    int64_t vanish_for_ms = 0;  // 0: once gone, it never comes back

    // Spoiled replies.
    FaultSchedule short_reply;
    FaultSchedule bad_checksum;
    FaultSchedule bad_marker;
    FaultSchedule garbage;
    FaultSchedule long_reply;
    FaultSchedule nul_bytes;

    // Bytes sent on their own some time after every reply.
    std::string unasked;
    int64_t unasked_delay_ms = 100;

    std::string log_path;
    bool show_help = false;
};

struct ModsimParseResult {
    ModsimOptions options;
    std::string error;  // empty when the arguments were accepted
    bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. Both "--name value" and
// "--name=value" are accepted. env_ports_dir (the LOGGER_PORTS value, may be
// empty) stands in for a missing --ports-dir.
ModsimParseResult parse_modsim_options(const std::vector<std::string>& args, std::string_view env_ports_dir);

// The help text printed for --help and after an error.
std::string modsim_usage();

// Turns "\r\n", "\x00", "\\" and the like into the bytes they name. Returns
// false (with a reason in error) for an unknown or unfinished escape.
bool unescape_text(std::string_view text, std::string& bytes, std::string& error);
