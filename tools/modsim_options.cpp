// Parsing of the module simulator's command line into ModsimOptions, with an
// error text that names the option and what was wrong with it.
#include "tools/modsim_options.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr int64_t largest_reading = 999'999;   // keeps every checksum far inside 32 bits
constexpr int64_t largest_delay_ms = 600'000;  // ten minutes
constexpr int64_t largest_reply_number = 1'000'000'000'000'000;

bool parse_integer(std::string_view text, int64_t lowest, int64_t highest, int64_t& value)
{
    if (text.empty() || text.front() == '+')
        return false;
    int64_t parsed = 0;
    const char* end = text.data() + text.size();
    auto [stop, code] = std::from_chars(text.data(), end, parsed);
    if (code != std::errc() || stop != end)
        return false;
    if (parsed < lowest || parsed > highest)
        return false;
    value = parsed;
    return true;
}

std::string range_text(int64_t lowest, int64_t highest)
{
    return std::to_string(lowest) + " to " + std::to_string(highest);
}

// Splits "a,b,c" into its items; an empty item is kept so the caller can refuse it.
std::vector<std::string_view> split_commas(std::string_view text)
{
    std::vector<std::string_view> items;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            items.push_back(text.substr(start));
            return items;
        }
        items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One parse in progress: the options so far and the first error met.
struct Parser {
    ModsimOptions options;
    std::string error;
    std::string_view name;  // the option being read, for error texts

    void fail(const std::string& what)
    {
        if (error.empty())
            error = std::string(name) + ": " + what;
    }

    void read_integer(std::string_view text, int64_t lowest, int64_t highest, int64_t& target)
    {
        if (!parse_integer(text, lowest, highest, target))
            fail("expected a whole number from " + range_text(lowest, highest) + ", got \"" + std::string(text) + "\"");
    }

    void read_count(std::string_view text, uint64_t lowest, uint64_t& target)
    {
        int64_t value = 0;
        if (!parse_integer(text, static_cast<int64_t>(lowest), largest_reply_number, value)) {
            fail("expected a whole number from " + range_text(static_cast<int64_t>(lowest), largest_reply_number) +
                 ", got \"" + std::string(text) + "\"");
            return;
        }
        target = static_cast<uint64_t>(value);
    }

    void read_reply_list(std::string_view text, FaultSchedule& schedule)
    {
        for (std::string_view item : split_commas(text)) {
            uint64_t number = 0;
            read_count(item, 1, number);
            if (!error.empty())
                return;
            schedule.reply_numbers.push_back(number);
        }
        std::sort(schedule.reply_numbers.begin(), schedule.reply_numbers.end());
    }

    void read_values(std::string_view text)
    {
        std::vector<std::string_view> items = split_commas(text);
        if (items.size() != 3) {
            fail("expected three readings such as 512,600,700, got \"" + std::string(text) + "\"");
            return;
        }
        for (size_t i = 0; i < 3; ++i) {
            int64_t value = 0;
            read_integer(items[i], -largest_reading, largest_reading, value);
            options.values[i] = static_cast<int32_t>(value);
        }
        options.fixed_values = true;
    }

    void read_switch(std::string_view text)
    {
        if (text == "0")
            options.switch_mode = SwitchMode::always_0;
        else if (text == "1")
            options.switch_mode = SwitchMode::always_1;
        else if (text == "toggle")
            options.switch_mode = SwitchMode::toggle;
        else
            fail("expected 0, 1 or toggle, got \"" + std::string(text) + "\"");
    }

    void read_unasked(std::string_view text)
    {
        std::string why;
        if (!unescape_text(text, options.unasked, why))
            fail(why);
    }

    // Applies one option with its value; false when the name is unknown.
    bool apply(std::string_view value)
    {
        int64_t number = 0;
        if (name == "--ports-dir") {
            options.ports_dir = std::string(value);
        } else if (name == "--port") {
            read_integer(value, 1, 255, number);
            options.port_number = static_cast<uint32_t>(number);
        } else if (name == "--device") {
            options.device_path = std::string(value);
        } else if (name == "--socket") {
            options.socket_path = std::string(value);
        } else if (name == "--values") {
            read_values(value);
        } else if (name == "--switch") {
            read_switch(value);
        } else if (name == "--switch-period-ms") {
            read_integer(value, 1, largest_delay_ms * 100, options.switch_period_ms);
        } else if (name == "--spare") {
            read_integer(value, INT32_MIN, INT32_MAX, number);
            options.spare = static_cast<int32_t>(number);
        } else if (name == "--delay-ms") {
            read_integer(value, 0, largest_delay_ms, options.delay_ms);
        } else if (name == "--silent-after") {
            read_count(value, 0, options.silent_after);
            options.silent_after_set = true;
        } else if (name == "--hangup-at") {
            read_count(value, 1, options.hangup_at);
        } else if (name == "--vanish-at") {
            read_count(value, 1, options.vanish_at);
        } else if (name == "--vanish-for") {
            read_integer(value, 0, largest_delay_ms, options.vanish_for_ms);
        } else if (name == "--unasked") {
            read_unasked(value);
        } else if (name == "--unasked-delay-ms") {
            read_integer(value, 0, largest_delay_ms, options.unasked_delay_ms);
        } else if (name == "--log") {
            options.log_path = std::string(value);
        } else {
            return apply_fault(value);
        }
        return true;
    }

    bool apply_fault(std::string_view value)
    {
        struct FaultOption {
            std::string_view stem;
            FaultSchedule ModsimOptions::*schedule;
        };
        static constexpr FaultOption faults[] = {
            {"--short", &ModsimOptions::short_reply},     {"--bad-checksum", &ModsimOptions::bad_checksum},
            {"--bad-marker", &ModsimOptions::bad_marker}, {"--garbage", &ModsimOptions::garbage},
            {"--long-reply", &ModsimOptions::long_reply}, {"--nul", &ModsimOptions::nul_bytes},
        };
        for (const FaultOption& fault : faults) {
            if (!name.starts_with(fault.stem))
                continue;
            std::string_view suffix = name.substr(fault.stem.size());
            FaultSchedule& schedule = options.*fault.schedule;
            if (suffix == "-at") {
                read_reply_list(value, schedule);
                return true;
            }
            if (suffix == "-every") {
                read_count(value, 1, schedule.every);
                return true;
            }
        }
        return false;
    }

    void check_where_to_serve(std::string_view env_ports_dir)
    {
        if (!error.empty() || options.show_help)
            return;
        name = "modsim";
        int places = (options.port_number != 0) + !options.device_path.empty() + !options.socket_path.empty();
        if (places > 1) {
            fail("give one of --port, --device and --socket");
        } else if (places == 0) {
            fail(options.ports_dir.empty()
                     ? "say where to serve: --port N with --ports-dir DIR, --device PATH or --socket PATH"
                     : "--ports-dir needs --port N");
        } else if (options.port_number != 0 && options.ports_dir.empty()) {
            if (env_ports_dir.empty())
                fail("--port needs --ports-dir DIR (or LOGGER_PORTS in the environment)");
            else
                options.ports_dir = std::string(env_ports_dir);
        } else if (options.port_number == 0 && !options.ports_dir.empty()) {
            fail("--ports-dir has no meaning with --device or --socket");
        }
        // Only a pseudo-terminal of our own can go away and come back under its COM link.
        if (options.vanish_at != 0 && options.port_number == 0)
            fail("--vanish-at needs --port N");
        else if (options.vanish_for_ms != 0 && options.vanish_at == 0)
            fail("--vanish-for needs --vanish-at N");
    }
};

}  // namespace

bool FaultSchedule::includes(uint64_t reply_number) const
{
    if (every != 0 && reply_number != 0 && reply_number % every == 0)
        return true;
    return std::binary_search(reply_numbers.begin(), reply_numbers.end(), reply_number);
}

bool unescape_text(std::string_view text, std::string& bytes, std::string& error)
{
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            bytes += c;
            continue;
        }
        if (i + 1 >= text.size()) {
            error = "the text ends in a lone backslash";
            return false;
        }
        char kind = text[++i];
        switch (kind) {
        case '\\':
            bytes += '\\';
            break;
        case 'r':
            bytes += '\r';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 't':
            bytes += '\t';
            break;
        case '0':
            bytes += '\0';
            break;
        case 'x': {
            int high = i + 1 < text.size() ? hex_digit_value(text[i + 1]) : -1;
            int low = i + 2 < text.size() ? hex_digit_value(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                error = "\\x needs two hex digits";
                return false;
            }
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + kind + " (use \\\\ \\r \\n \\t \\0 or \\xHH)";
            return false;
        }
    }
    return true;
}

ModsimParseResult parse_modsim_options(const std::vector<std::string>& args, std::string_view env_ports_dir)
{
    Parser parser;
    for (size_t i = 0; i < args.size() && parser.error.empty(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parser.options.show_help = true;
            continue;
        }
        if (!arg.starts_with("--")) {
            parser.name = arg;
            parser.fail("not an option (options start with --)");
            break;
        }
        std::string_view value;
        size_t equals = arg.find('=');
        if (equals != std::string_view::npos) {
            parser.name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else {
            parser.name = arg;
            if (i + 1 >= args.size()) {
                parser.fail("needs a value");
                break;
            }
            value = args[++i];
        }
        if (value.empty())
            parser.fail("needs a value");
        else if (!parser.apply(value))
            parser.fail("unknown option");
    }
    parser.check_where_to_serve(env_ports_dir);
    return {std::move(parser.options), std::move(parser.error)};
}

std::string modsim_usage()
{
    return "usage: modsim (--port N [--ports-dir DIR] | --device PATH | --socket PATH) [options]\n"
           "Answers each request \"X\" + line end with \"X,spare,switch,AD1,AD2,AD3,checksum\".\n"
           "  --ports-dir DIR          folder of COM links (default: LOGGER_PORTS)\n"
           "  --port N                 link a new pseudo-terminal as DIR/COM<N> (1-255)\n"
           "  --device PATH            serve an existing terminal device instead\n"
           "  --socket PATH            serve one connection to a listening unix socket (waits for it to\n"
           "                           appear); ends when the other side closes it\n"
           "  --values A,B,C           fixed readings (default: three slow waves, 120-1000)\n"
           "  --switch 0|1|toggle      switch input (default: toggle)\n"
           "  --switch-period-ms N     time between switch toggles (default 5000)\n"
           "  --spare N                the spare field (default 0)\n"
           "  --delay-ms N             wait before each reply\n"
           "  --silent-after N         answer N requests, then none\n"
           "  --hangup-at N            close the line when reply N is due, then exit\n"
           "  --vanish-at N            after reply N, close the pseudo-terminal and remove its COM link\n"
           "  --vanish-for MS          ... then after MS milliseconds link a new one and serve on\n"
           "                           (default 0: exit instead, as after a hang-up)\n"
           "  --short-at LIST          replies cut to fewer than 21 bytes\n"
           "  --bad-checksum-at LIST   replies with a wrong checksum\n"
           "  --bad-marker-at LIST     replies whose first field is not X\n"
           "  --garbage-at LIST        binary junk instead of the reply\n"
           "  --long-reply-at LIST     5000 bytes without a separator instead of the reply\n"
           "  --nul-at LIST            NUL bytes inside the reply\n"
           "  --<fault>-every K        the same fault on every K-th reply\n"
           "  --unasked TEXT           bytes sent on their own after each reply (\\r \\n \\xHH ...)\n"
           "  --unasked-delay-ms N     how long after the reply (default 100)\n"
           "  --log FILE               one line per request, reply and stray byte run\n"
           "LIST is comma-separated reply numbers, counted from 1.\n";
}
