// The simulator's timing: replies after the delay, unasked bytes after replies,
// silence, hang-up, and stray bytes noted as they come.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/modsim_responder.h"
#include "tools_test_support.h"

namespace {

Moment at(double mono_s) { return Moment{mono_s, 1'700'000'000'000'000}; }

}  // namespace

TEST(ModuleResponder, replies_at_once_without_delay_with_readings_of_the_time_since_start)
{
    ModuleResponder responder(fixed_options(), 10.0);
    EXPECT_TRUE(std::isinf(responder.next_due_s()));
    responder.receive("X\r\n", at(11.0));
    auto actions = responder.take_due(at(11.0));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, ModsimAction::Kind::reply);
    EXPECT_EQ(actions[0].request_number, 1u);
    EXPECT_EQ(actions[0].label, "ok");
    EXPECT_EQ(actions[0].bytes, "X,0,1,512,600,700,1813\r\n");
    EXPECT_TRUE(responder.take_due(at(12.0)).empty());

    ModsimOptions waves;  // readings follow the time since the start
    waves.switch_period_ms = 1000;
    ModuleResponder waving(waves, 500.0);
    waving.receive("X\n", at(501.5));
    actions = waving.take_due(at(501.5));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes, reply_line(reading_at(waves, 1.5)));
}

TEST(ModuleResponder, delay_holds_each_reply_back_and_keeps_order)
{
    ModsimOptions options = fixed_options();
    options.delay_ms = 30;
    options.bad_checksum.reply_numbers = {2};
    ModuleResponder responder(options, 0.0);
    responder.receive("X\r\n", at(1.000));
    responder.receive("X\r\n", at(1.010));
    EXPECT_DOUBLE_EQ(responder.next_due_s(), 1.030);
    EXPECT_TRUE(responder.take_due(at(1.029)).empty());
    auto first = responder.take_due(at(1.035));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].request_number, 1u);
    EXPECT_DOUBLE_EQ(first[0].moment.mono_s, 1.000);  // logged with the request's own time
    auto second = responder.take_due(at(1.040));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].label, "bad-checksum");
}

TEST(ModuleResponder, silent_after_answers_exactly_that_many)
{
    ModsimOptions options = fixed_options();
    options.silent_after_set = true;
    options.silent_after = 49;
    ModuleResponder responder(options, 0.0);
    int answered = 0;
    for (int i = 1; i <= 50; ++i) {
        responder.receive("X\r\n", at(i));
        for (const ModsimAction& action : responder.take_due(at(i))) {
            if (!action.bytes.empty())
                ++answered;
            if (i == 50) {
                EXPECT_EQ(action.label, "silent");
            }
        }
    }
    EXPECT_EQ(answered, 49);
    EXPECT_EQ(responder.requests_seen(), 50u);
}

TEST(ModuleResponder, hangup_ends_everything_pending)
{
    ModsimOptions options = fixed_options();
    options.hangup_at = 2;
    options.unasked = "junk";
    options.unasked_delay_ms = 500;
    ModuleResponder responder(options, 0.0);
    responder.receive("X\r\nX\r\nX\r\n", at(1.0));
    auto actions = responder.take_due(at(1.0));
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0].kind, ModsimAction::Kind::reply);
    EXPECT_EQ(actions[1].kind, ModsimAction::Kind::hangup);
    EXPECT_EQ(actions[1].request_number, 2u);
    EXPECT_TRUE(responder.hung_up());
    EXPECT_TRUE(responder.take_due(at(5.0)).empty());  // neither the third reply nor the unasked bytes
    responder.receive("X\r\n", at(6.0));
    EXPECT_TRUE(responder.take_due(at(6.0)).empty());
}

TEST(ModuleResponder, unasked_bytes_follow_each_real_reply)
{
    ModsimOptions options = fixed_options();
    options.unasked = "??";
    options.unasked_delay_ms = 100;
    options.silent_after_set = true;
    options.silent_after = 1;
    ModuleResponder responder(options, 0.0);
    responder.receive("X\r\n", at(1.0));
    ASSERT_EQ(responder.take_due(at(1.0)).size(), 1u);
    EXPECT_DOUBLE_EQ(responder.next_due_s(), 1.1);
    auto unasked = responder.take_due(at(1.2));
    ASSERT_EQ(unasked.size(), 1u);
    EXPECT_EQ(unasked[0].kind, ModsimAction::Kind::unasked);
    EXPECT_EQ(unasked[0].bytes, "??");
    EXPECT_DOUBLE_EQ(unasked[0].moment.mono_s, 1.2);

    responder.receive("X\r\n", at(2.0));  // silent: no reply, so nothing unasked either
    auto silent = responder.take_due(at(2.0));
    ASSERT_EQ(silent.size(), 1u);
    EXPECT_EQ(silent[0].label, "silent");
    EXPECT_TRUE(std::isinf(responder.next_due_s()));
}

TEST(ModuleResponder, stray_bytes_are_noted_in_arrival_order)
{
    ModuleResponder responder(fixed_options(), 0.0);
    responder.receive("hello\r\nX\r\n#", at(1.0));
    auto actions = responder.take_due(at(1.0));
    ASSERT_EQ(actions.size(), 3u);
    EXPECT_EQ(actions[0].kind, ModsimAction::Kind::stray);
    EXPECT_EQ(actions[0].bytes, "hello\r\n");
    EXPECT_EQ(actions[1].kind, ModsimAction::Kind::reply);
    EXPECT_EQ(actions[2].bytes, "#");
}

TEST(ModuleResponder, log_lines_carry_time_number_label_and_escaped_bytes_and_wall_time_microseconds)
{
    ModsimAction reply;
    reply.kind = ModsimAction::Kind::reply;
    reply.request_number = 7;
    reply.label = "bad-marker";
    reply.bytes = "Y,0,1,2,3,4,10\r\n";
    reply.moment = Moment{1234.5678901, 0};
    std::string line = log_line(reply);
    EXPECT_EQ(line.substr(0, 12), "1234.567890 ");
    EXPECT_NE(line.find(" request 7 bad-marker \"Y,0,1,2,3,4,10\\r\\n\""), std::string::npos) << line;

    ModsimAction stray;
    stray.kind = ModsimAction::Kind::stray;
    stray.bytes = std::string("\x01", 1);
    EXPECT_NE(log_line(stray).find(" stray \"\\x01\""), std::string::npos);

    const std::string wall_time = wall_time_text(1'700'000'000'123'456);
    ASSERT_EQ(wall_time.size(), 26u) << wall_time;
    EXPECT_EQ(wall_time.substr(19), ".123456");  // microseconds
}
