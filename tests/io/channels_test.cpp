// The channel table over a scripted device: number and state checks, the
// put/get paths with the push-back store, the location rule, closing.
#include "io/channels.h"

#include <gtest/gtest.h>

#include "io_test_support.h"

#include <string>
#include <vector>

namespace {

class ChannelTableTest : public ::testing::Test {
protected:
    ErrorStatus status;
    ChannelTable channels{status};
    FakeLine line;

    FakeDevice& open_scripted(int32_t channel, int32_t mode = mode_binary)
    {
        auto device = std::make_unique<FakeDevice>(line);
        FakeDevice& ref = *device;
        channels.open_on_device(channel, std::move(device), mode, access_read_write);
        return ref;
    }

    std::string get(int32_t channel, size_t count) { return read_channel(channels, channel, count); }

    void push(int32_t channel, std::string_view bytes)
    {
        channels.push_back(channel, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
};

TEST_F(ChannelTableTest, closed_channels_and_numbers_outside_1_to_255_are_refused_by_every_operation)
{
    for (int32_t number : {7, 0, -1, 256, 100000}) {
        auto try_op = [&](auto op) {
            status.set(status_ok);
            op();
            EXPECT_EQ(status.code(), status_not_allowed) << "channel " << number;
        };
        try_op([&] { channels.put_data(number, "x"); });
        try_op([&] { EXPECT_EQ(get(number, 1), ""); });
        try_op([&] { push(number, "x"); });
        try_op([&] { channels.close(number); });
        try_op([&] { channels.flush(number); });
        if (number != 7)
            try_op([&] { channels.open_on_device(number, std::make_unique<FakeDevice>(line), mode_binary, 0); });
        status.set(status_cannot_open);
        EXPECT_EQ(channels.location(number), 0);
        EXPECT_EQ(status.code(), status_cannot_open);  // location leaves the status alone
    }
    EXPECT_TRUE(line.writes.empty());
    EXPECT_EQ(line.closes, 0);
}

TEST_F(ChannelTableTest, close_gives_the_device_code_keeping_a_refusing_device_open_then_1_once_closed)
{
    open_scripted(3);
    line.close_result = status_io_failed;
    channels.close(3);
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_TRUE(channels.is_open(3));
    line.close_result = status_ok;
    channels.close(3);
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_FALSE(channels.is_open(3));
    channels.close(3);
    EXPECT_EQ(status.code(), status_not_allowed);
    EXPECT_EQ(line.closes, 2);
}

TEST_F(ChannelTableTest, open_of_an_open_channel_is_refused_and_leaves_it_untouched)
{
    FakeDevice& first = open_scripted(2);
    push(2, "Q");
    FakeLine other_line;
    channels.open_on_device(2, std::make_unique<FakeDevice>(other_line), mode_input, access_read);
    EXPECT_EQ(status.code(), status_not_allowed);
    EXPECT_EQ(channels.channel(2)->device.get(), &first);
    EXPECT_EQ(channels.channel(2)->mode, mode_binary);
    EXPECT_EQ(get(2, 1), "Q");
}

TEST_F(ChannelTableTest, printed_line_is_text_then_line_end_as_two_writes)
{
    open_scripted(2);
    channels.print_line(2, "X");
    channels.print_line(2, "");
    EXPECT_EQ(line.writes, (std::vector<std::string>{"X", "\r\n", "\r\n"}));
    EXPECT_EQ(status.code(), status_ok);
}

TEST_F(ChannelTableTest, read_takes_the_store_newest_byte_first_then_one_device_read)
{
    open_scripted(2);
    line.queue = {'3', '4', '5'};
    push(2, "2");
    push(2, "1");  // pushed later, read first
    EXPECT_EQ(get(2, 1), "1");
    EXPECT_EQ(line.reads, 0);  // the store alone served it
    EXPECT_EQ(get(2, 3), "234");
    EXPECT_EQ(line.reads, 1);
    EXPECT_EQ(get(2, 9), "5");
}

TEST_F(ChannelTableTest, push_back_beyond_four_bytes_fails_and_keeps_the_store)
{
    open_scripted(2);
    push(2, "abc");
    push(2, "de");
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_EQ(channels.channel(2)->push_back_count, 3u);
    push(2, "z");
    EXPECT_EQ(get(2, 4), "zabc");
}

TEST_F(ChannelTableTest, put_data_empties_the_push_back_store)
{
    open_scripted(2);
    line.queue = {'n'};
    push(2, "p");
    channels.put_data(2, "X");
    EXPECT_EQ(get(2, 1), "n");
}

TEST_F(ChannelTableTest, failed_device_read_leaves_its_status_until_the_next_operation)
{
    open_scripted(2);
    line.read_result = status_io_failed;
    EXPECT_EQ(get(2, 1), "");
    EXPECT_EQ(status.code(), status_io_failed);
    channels.location(2);
    EXPECT_EQ(status.code(), status_io_failed);
}

struct LocationCase {
    int32_t mode;
    int64_t position;
    const char* pushed;
    int64_t expected;
};

TEST_F(ChannelTableTest, location_rule)
{
    const LocationCase cases[] = {
        {mode_binary, 2, "x", 1},                                // two queued, one pushed back
        {mode_binary, 0, "x", 0},                                // difference -1 gives 0
        {mode_binary, -1, "", 0},                                // tell failed
        {mode_binary, 300, "", 300}, {mode_random, 300, "", 2},  // record length 128
        {mode_random, 0, "x", 0},    {mode_input, 300, "", 2},   // byte count in 128-byte blocks
        {mode_output, 127, "", 0},   {mode_append, 300, "", 300},
    };
    for (const LocationCase& c : cases) {
        FakeLine case_line;
        case_line.position = c.position;
        ChannelTable table(status);
        table.open_on_device(5, std::make_unique<FakeDevice>(case_line), c.mode, access_read_write);
        const std::string pushed(c.pushed);
        table.push_back(5, reinterpret_cast<const uint8_t*>(pushed.data()), pushed.size());
        EXPECT_EQ(table.location(5), c.expected) << "mode " << c.mode << " position " << c.position;
    }
}

TEST_F(ChannelTableTest, close_all_closes_every_open_channel_through_its_device)
{
    open_scripted(1);
    open_scripted(255);
    channels.close_all();
    EXPECT_EQ(line.closes, 2);
    EXPECT_FALSE(channels.is_open(1));
    EXPECT_FALSE(channels.is_open(255));
    channels.close_all();
    EXPECT_EQ(line.closes, 2);
}

TEST_F(ChannelTableTest, refused_open_strings_leave_the_channel_closed_with_status_1)
{
    for (const char* open_string : {"COM1:9600,x,8,1", "COM1:9600,n,8,3", "COM1:9600,n,8,1,IR1", "COM1:9600,n,8,1,zz",
                                    "LPT1:", "COMX:", "COM1"}) {
        channels.open_port(2, open_string, mode_random, 0, 0, 0);
        EXPECT_EQ(status.code(), status_not_allowed) << open_string;
        EXPECT_FALSE(channels.is_open(2));
        EXPECT_EQ(channels.channel(2)->mode, 0);
    }
}

TEST_F(ChannelTableTest, reopen_asks_the_opener_with_the_last_successful_open_and_leaves_the_status_alone)
{
    std::vector<std::string> asked;
    bool present = true;
    channels.set_port_opener([&](std::string_view open_string, int32_t& open_status, PortRefusal& refusal) {
        asked.emplace_back(open_string);
        open_status = present ? status_ok : status_cannot_open;
        refusal.kind = present ? PortRefusalKind::none : PortRefusalKind::missing;
        return present ? std::unique_ptr<ChannelDevice>(std::make_unique<FakeDevice>(line)) : nullptr;
    });
    EXPECT_EQ(channels.reopen_port(2), ReopenOutcome::absent);  // no port was ever opened on it
    channels.open_port(2, "COM3:9600,n,8,1", mode_random, 0, 0, 0);
    channels.close(2);
    present = false;
    channels.open_port(2, "COM4:", mode_random, 0, 0, 0);  // a failed open is not remembered
    EXPECT_EQ(channels.reopen_port(2), ReopenOutcome::absent);
    present = true;
    EXPECT_EQ(channels.reopen_port(2), ReopenOutcome::opened);
    EXPECT_EQ(channels.channel(2)->mode, mode_binary);
    EXPECT_EQ(channels.reopen_port(2), ReopenOutcome::absent);  // open already
    EXPECT_EQ(status.code(), status_cannot_open);
    EXPECT_EQ(channels.port_refusal().kind, PortRefusalKind::missing);
    EXPECT_EQ(asked, (std::vector<std::string>{"COM3:9600,n,8,1", "COM4:", "COM3:9600,n,8,1", "COM3:9600,n,8,1"}));
}

// The program's table reports through whichever status the program has installed.
TEST(ProgramChannels, report_through_the_installed_error_status)
{
    ErrorStatus mine;
    use_error_status(&mine);
    open_channel_file(9, "/nonexistent-io-folder/none.csv", mode_input, 0, 0, 0);
    close_channel(9);
    use_error_status(nullptr);
    EXPECT_EQ(mine.code(), status_not_allowed);
    EXPECT_FALSE(the_channels().is_open(9));
    close_channel(9);
    EXPECT_EQ(error_code(), status_not_allowed);
    EXPECT_EQ(mine.code(), status_not_allowed);
    set_error_code(status_ok);
}

}  // namespace
