// The simulator's command line: accepted forms, defaults, and refusals with a reason.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/modsim_options.h"

namespace {

ModsimParseResult parse(std::vector<std::string> args, std::string_view env_ports_dir = "")
{
    return parse_modsim_options(args, env_ports_dir);
}

// A command line's words, split at blanks.
std::vector<std::string> words(std::string_view line)
{
    std::vector<std::string> result;
    std::istringstream stream{std::string(line)};
    for (std::string word; stream >> word;)
        result.push_back(word);
    return result;
}

}  // namespace

TEST(ModsimOptions, place_to_serve_comes_from_the_options_or_the_environment_and_help_needs_none)
{
    ModsimParseResult result = parse({"--ports-dir", "/tmp/p", "--port", "3"}, "/run/ports");
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.options.ports_dir, "/tmp/p");
    EXPECT_EQ(result.options.port_number, 3u);
    EXPECT_EQ(parse({"--port", "10"}, "/run/ports").options.ports_dir, "/run/ports");
    result = parse({"--help"});
    EXPECT_TRUE(result.ok()) << result.error;
    EXPECT_TRUE(result.options.show_help);
}

TEST(ModsimOptions, equals_form_and_every_option_read)
{
    ModsimParseResult result = parse(words("--device=/dev/pts/9 --values=512,-3,1023 --switch 1 --spare -7 "
                                           "--delay-ms 20 --silent-after 49 --hangup-at 60 --short-at 5 "
                                           "--bad-checksum-at 9,2,4 --bad-marker-every 10 --garbage-at 7 "
                                           "--long-reply-at 8 --nul-every 3 --unasked a\\r\\n\\x00\\xfF "
                                           "--unasked-delay-ms 5 --log /tmp/l"));
    ASSERT_TRUE(result.ok()) << result.error;
    const ModsimOptions& options = result.options;
    EXPECT_EQ(options.device_path, "/dev/pts/9");
    EXPECT_TRUE(options.fixed_values);
    EXPECT_EQ(options.values, (std::array<int32_t, 3>{512, -3, 1023}));
    EXPECT_EQ(options.switch_mode, SwitchMode::always_1);
    EXPECT_EQ(options.spare, -7);
    EXPECT_EQ(options.delay_ms, 20);
    EXPECT_TRUE(options.silent_after_set);
    EXPECT_EQ(options.silent_after, 49u);
    EXPECT_EQ(options.hangup_at, 60u);
    EXPECT_EQ(options.bad_checksum.reply_numbers, (std::vector<uint64_t>{2, 4, 9}));
    EXPECT_EQ(options.bad_marker.every, 10u);
    EXPECT_EQ(options.short_reply.reply_numbers, (std::vector<uint64_t>{5}));
    EXPECT_EQ(options.garbage.reply_numbers, (std::vector<uint64_t>{7}));
    EXPECT_EQ(options.long_reply.reply_numbers, (std::vector<uint64_t>{8}));
    EXPECT_EQ(options.nul_bytes.every, 3u);
    EXPECT_EQ(options.unasked, std::string("a\r\n\0\xff", 5));
    EXPECT_EQ(options.unasked_delay_ms, 5);
    EXPECT_EQ(options.log_path, "/tmp/l");
}

TEST(ModsimOptions, refusals_name_the_option_and_the_problem)
{
    struct Case {
        std::vector<std::string> args;
        std::string error_part;
    };
    const Case cases[] = {
        {{}, "say where to serve"},
        {{"--port", "3"}, "--port needs --ports-dir"},
        {{"--ports-dir", "/p"}, "--ports-dir needs --port"},
        {{"--port", "3", "--ports-dir", "/p", "--device", "/dev/x"}, "one of --port, --device and --socket"},
        {{"--device", "/dev/x", "--ports-dir", "/p"}, "no meaning with --device"},
        {{"--socket", "/s", "--ports-dir", "/p"}, "no meaning with --device or --socket"},
        {{"--socket", "/s", "--device", "/dev/x"}, "one of --port, --device and --socket"},
        {{"--socket", "/s", "--vanish-at", "5"}, "--vanish-at needs --port"},
        {{"--port", "3", "--ports-dir", "/p", "--vanish-for", "100"}, "--vanish-for needs --vanish-at"},
        {{"--port", "0", "--ports-dir", "/p"}, "--port: expected a whole number from 1 to 255"},
        {{"--port", "256", "--ports-dir", "/p"}, "--port: expected"},
        {{"--port", "+3", "--ports-dir", "/p"}, "--port: expected"},
        {{"--port", "3x", "--ports-dir", "/p"}, "--port: expected"},
        {{"--device", "/d", "--values", "1,2"}, "--values: expected three readings"},
        {{"--device", "/d", "--values", "1,,3"}, "--values: expected a whole number"},
        {{"--device", "/d", "--values", "1,2,3,4"}, "--values: expected three readings"},
        {{"--device", "/d", "--values", "1,2,99999999999"}, "--values: expected a whole number"},
        {{"--device", "/d", "--switch", "2"}, "--switch: expected 0, 1 or toggle"},
        {{"--device", "/d", "--spare", "2147483648"}, "--spare: expected"},
        {{"--device", "/d", "--delay-ms", "-1"}, "--delay-ms: expected"},
        {{"--device", "/d", "--hangup-at", "0"}, "--hangup-at: expected a whole number from 1"},
        {{"--device", "/d", "--short-at", "3,0"}, "--short-at: expected a whole number from 1"},
        {{"--device", "/d", "--bad-checksum-at", "3,"}, "--bad-checksum-at: expected"},
        {{"--device", "/d", "--bad-marker-every", "0"}, "--bad-marker-every: expected"},
        {{"--device", "/d", "--unasked", "ab\\"}, "--unasked: the text ends in a lone backslash"},
        {{"--device", "/d", "--unasked", "\\x4"}, "--unasked: \\x needs two hex digits"},
        {{"--device", "/d", "--unasked", "\\q"}, "--unasked: unknown escape \\q"},
        {{"--device", "/d", "--unasked", ""}, "--unasked: needs a value"},
        {{"--device=", "--port", "3"}, "--device: needs a value"},
        {{"--device", "/d", "--log"}, "--log: needs a value"},
        {{"--device", "/d", "--bogus", "1"}, "--bogus: unknown option"},
        {{"--device", "/d", "--short-often", "1"}, "--short-often: unknown option"},
        {{"--device", "/d", "stray"}, "stray: not an option"},
    };
    for (const Case& c : cases) {
        ModsimParseResult result = parse(c.args);
        std::string joined;
        for (const std::string& arg : c.args)
            joined += arg + " ";
        EXPECT_FALSE(result.ok()) << joined;
        EXPECT_NE(result.error.find(c.error_part), std::string::npos)
            << joined << "-> \"" << result.error << "\", wanted \"" << c.error_part << "\"";
    }
}

TEST(FaultSchedule, list_and_every_combine)
{
    FaultSchedule schedule;
    schedule.reply_numbers = {2, 7};
    schedule.every = 5;
    std::vector<uint64_t> hits;
    for (uint64_t n = 0; n <= 15; ++n) {
        if (schedule.includes(n))
            hits.push_back(n);
    }
    EXPECT_EQ(hits, (std::vector<uint64_t>{2, 5, 7, 10, 15}));
}
