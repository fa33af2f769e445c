// Reply lines, the per-reply fault plan, and how requests are found in the byte stream.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/modsim_replies.h"
#include "tools_test_support.h"

TEST(ModsimReplies, fixed_reply_line_has_exact_fields_and_a_checksum_of_switch_and_inputs)
{
    ModsimOptions options = fixed_options();
    options.spare = 42;
    const ModuleReading reading = reading_at(options, 3.0);
    EXPECT_EQ(reply_line(reading), "X,42,1,512,600,700,1813\r\n");
    EXPECT_EQ(reply_bytes(ReplyPlan{}, reading, 1), "X,42,1,512,600,700,1813\r\n");

    options.values = {-5, 0, 3};
    options.switch_mode = SwitchMode::always_0;
    EXPECT_EQ(reply_line(reading_at(options, 0.0)), "X,42,0,-5,0,3,-2\r\n");
}

TEST(ModsimReplies, waveform_reply_is_sound_and_long_enough_at_every_step_and_at_nonsense_times)
{
    ModsimOptions options;  // waves and a toggling switch
    options.switch_period_ms = 700;
    std::vector<double> times_s = {1e7, 3.15e9, 1e300, -5.0, double{NAN}, double{INFINITY}};
    for (int step = 0; step < 30000; ++step)
        times_s.push_back(step * 0.01);
    int32_t lowest = 1023;
    int32_t highest = 0;
    for (double elapsed_s : times_s) {
        ModuleReading reading = reading_at(options, elapsed_s);
        for (int32_t input : reading.inputs) {
            ASSERT_GE(input, 100) << elapsed_s;
            ASSERT_LE(input, 1023) << elapsed_s;
            lowest = std::min(lowest, input);
            highest = std::max(highest, input);
        }
        ASSERT_TRUE(reading.switch_state == 0 || reading.switch_state == 1) << elapsed_s;
        ASSERT_NO_FATAL_FAILURE(expect_sound_reply(reply_line(reading))) << elapsed_s;
    }
    // The waves really move over most of the range, not just sit still.
    EXPECT_LT(lowest, 200);
    EXPECT_GT(highest, 900);
}

TEST(ModsimReplies, switch_toggles_each_period)
{
    EXPECT_EQ(switch_state_at(SwitchMode::toggle, 5000, 0.0), 0);
    EXPECT_EQ(switch_state_at(SwitchMode::toggle, 5000, 4.999), 0);
    EXPECT_EQ(switch_state_at(SwitchMode::toggle, 5000, 5.0), 1);
    EXPECT_EQ(switch_state_at(SwitchMode::toggle, 5000, 9.9), 1);
    EXPECT_EQ(switch_state_at(SwitchMode::toggle, 5000, 10.0), 0);
    EXPECT_EQ(switch_state_at(SwitchMode::always_1, 5000, 5.0), 1);
    EXPECT_EQ(switch_state_at(SwitchMode::always_0, 5000, 5.0), 0);
}

TEST(ModsimReplies, spoiled_replies_have_their_promised_form)
{
    ModuleReading reading = reading_at(fixed_options(), 0.0);

    std::string cut = reply_bytes(ReplyPlan{ReplyShape::cut_short}, reading, 3);
    EXPECT_LT(cut.size(), 21u);
    EXPECT_EQ(cut, "X,0,1,512,600,\r\n");
    ModsimOptions wide = fixed_options();  // a short reply stays short with the widest fields
    wide.spare = INT32_MIN;
    wide.values = {-999999, -999999, -999999};
    EXPECT_LT(reply_bytes(ReplyPlan{ReplyShape::cut_short}, reading_at(wide, 0.0), 1).size(), 21u);

    EXPECT_EQ(reply_bytes(ReplyPlan{ReplyShape::normal, true, false}, reading, 1), "X,0,1,512,600,700,1814\r\n");
    EXPECT_EQ(reply_bytes(ReplyPlan{ReplyShape::normal, false, true}, reading, 1), "Y,0,1,512,600,700,1813\r\n");
    EXPECT_EQ(reply_bytes(ReplyPlan{ReplyShape::with_nuls}, reading, 1),
              std::string("X\0,0,1,512,600,700,1813\0\r\n", 26));

    std::string long_reply = reply_bytes(ReplyPlan{ReplyShape::long_reply}, reading, 1);
    EXPECT_EQ(long_reply.size(), 5000u);
    EXPECT_EQ(long_reply.find_first_of(",\r\n"), std::string::npos);

    std::string junk = reply_bytes(ReplyPlan{ReplyShape::garbage}, reading, 6);
    EXPECT_GE(junk.size(), 21u);
    EXPECT_EQ(junk, reply_bytes(ReplyPlan{ReplyShape::garbage}, reading, 6));  // repeatable
    EXPECT_NE(junk, reply_bytes(ReplyPlan{ReplyShape::garbage}, reading, 7));

    EXPECT_EQ(reply_bytes(ReplyPlan{ReplyShape::silent}, reading, 1), "");
    EXPECT_EQ(reply_bytes(ReplyPlan{ReplyShape::hangup}, reading, 1), "");
}

TEST(ModsimReplies, fault_plan_follows_lists_every_and_precedence)
{
    ModsimOptions options;
    options.bad_checksum.reply_numbers = {2, 6};
    options.bad_marker.every = 3;
    options.short_reply.reply_numbers = {4, 5};
    options.garbage.reply_numbers = {5};
    options.nul_bytes.reply_numbers = {6, 7};
    options.long_reply.reply_numbers = {7};
    options.silent_after_set = true;
    options.silent_after = 9;
    options.hangup_at = 11;

    const char* expected[] = {
        "ok",                           // 1
        "bad-checksum",                 // 2
        "bad-marker",                   // 3
        "short",                        // 4
        "garbage",                      // 5: garbage outranks short
        "nul,bad-checksum,bad-marker",  // 6
        "long",                         // 7: long outranks NUL bytes
        "ok",                           // 8
        "bad-marker",                   // 9
        "silent",                       // 10
        "hangup",                       // 11
    };
    for (uint64_t n = 1; n <= 11; ++n)
        EXPECT_EQ(plan_label(plan_reply(options, n)), expected[n - 1]) << "reply " << n;
    options.silent_after = 0;  // never answers
    EXPECT_EQ(plan_reply(options, 1).shape, ReplyShape::silent);
}

TEST(RequestScanner, finds_requests_with_any_line_end)
{
    struct Case {
        std::string input;
        std::string expected;  // R for a request, [..] for a stray run
    };
    const Case cases[] = {
        {"X\r\n", "R"},
        {"X\n", "R"},
        {"X\r", "R"},
        {"X\r\nX\r\n", "RR"},
        {"X\rX\n", "RR"},
        {"X\n\n", "R[\n]"},  // only an LF right after a CR belongs to the line end
        {"ab", "[ab]"},
        {"xX\r\n", "[x]R"},
        {"XX\r\n", "[X]R"},
        {"XY\r\n", "[XY\r\n]"},
        {"X", ""},  // undecided until the next byte
        {std::string("\0X\n", 3), std::string("[\0]R", 4)},
    };
    for (const Case& c : cases) {
        RequestScanner scanner;
        std::string seen;
        for (const RequestScanner::Event& event : scanner.feed(c.input))
            seen += event.is_request ? "R" : "[" + event.stray_bytes + "]";
        EXPECT_EQ(seen, c.expected) << escape_bytes(c.input);
    }
}

TEST(RequestScanner, request_split_across_reads)
{
    RequestScanner scanner;
    EXPECT_TRUE(scanner.feed("X").empty());
    auto events = scanner.feed("\r");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].is_request);
    EXPECT_TRUE(scanner.feed("\n").empty());  // the rest of that line end, not a stray byte
    auto stray = scanner.feed("\n");
    ASSERT_EQ(stray.size(), 1u);
    EXPECT_EQ(stray[0].stray_bytes, "\n");
}

TEST(ModsimReplies, escape_keeps_log_lines_printable_and_unambiguous)
{
    EXPECT_EQ(escape_bytes(std::string("X,1\r\n\0\t\"\\\x7f\xff", 11)), "X,1\\r\\n\\0\\t\\\"\\\\\\x7F\\xFF");
}
