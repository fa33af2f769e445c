// Tests of fields read from a channel: one byte per device read, bytes given
// back through the channel's push-back store.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "text_test_support.h"

namespace {

// A reader whose fields come from channel 2, a module reply waiting in its queue.
struct ChannelReader : ReaderRig {
    FakeLine line;

    explicit ChannelReader(const std::string& bytes)
    {
        line.queue.assign(bytes.begin(), bytes.end());
        channels.open_on_device(2, std::make_unique<FakeDevice>(line), mode_binary, access_read_write);
        reader.begin_channel_fields(2);
    }
    uint32_t stored() const { return channels.channel(2)->push_back_count; }
};

}  // namespace

TEST(ChannelSource, reply_ending_in_cr_lf_or_lf_is_read_a_byte_at_a_time_to_its_end)
{
    for (const std::string line_end : {"\r\n", "\n"}) {
        const std::string reply = "X,12,0,512,600,700,1812" + line_end;
        ChannelReader r(reply);
        expect_module_reply(r.reader);
        EXPECT_EQ(r.status.code(), 0);
        EXPECT_TRUE(r.line.queue.empty());
        EXPECT_EQ(r.stored(), 0u);
        EXPECT_EQ(r.line.reads, static_cast<int>(reply.size()));  // none past the line end
        EXPECT_EQ(r.line.largest_request, 1u);
        EXPECT_EQ(r.line.empty_reads, 0);
    }
}

TEST(ChannelSource, byte_after_lone_carriage_return_stays_in_push_back_store)
{
    ChannelReader r("X,12,0,512,600,700,1812\rYZ");
    expect_module_reply(r.reader);
    ASSERT_EQ(r.stored(), 1u);
    EXPECT_EQ(r.channels.channel(2)->push_back[0], 'Y');
    EXPECT_EQ(r.line.queue.size(), 1u);
    // Bytes waiting count the pushed-back byte as read already.
    EXPECT_EQ(r.channels.location(2), 0);
    EXPECT_EQ(r.reader.read_text_field(), "YZ");
}

TEST(ChannelSource, missing_fields_read_as_zero_after_an_empty_read_each)
{
    ChannelReader r("12,0,512,600\r\n");
    for (int32_t value : {12, 0, 512, 600})
        EXPECT_EQ(r.reader.read_int_field(), value);
    EXPECT_EQ(r.line.empty_reads, 0);
    EXPECT_EQ(r.reader.read_int_field(), 0);
    EXPECT_EQ(r.line.empty_reads, 1);
    EXPECT_EQ(r.reader.read_int_field(), 0);
    EXPECT_EQ(r.line.empty_reads, 2);
    EXPECT_EQ(r.stored(), 0u);
    EXPECT_EQ(r.status.code(), 0);
}

TEST(ChannelSource, failed_read_ends_the_source_even_when_it_moved_a_byte)
{
    ChannelReader r("12,34");
    EXPECT_EQ(r.reader.read_int_field(), 12);
    r.line.read_result = status_io_failed;
    EXPECT_EQ(r.reader.read_int_field(), 0);  // the "3" came with the failure
    EXPECT_EQ(r.status.code(), 0);            // the field read resets it
    r.line.read_result = status_ok;
    EXPECT_EQ(r.reader.read_int_field(), 4);
}

TEST(ChannelSource, closed_channel_leaves_the_previous_source)
{
    ChannelReader r("1,2");
    r.reader.use_line("7,8");
    r.reader.begin_channel_fields(3);
    EXPECT_EQ(r.status.code(), 1);
    EXPECT_EQ(r.reader.read_int_field(), 7);

    r.reader.begin_channel_fields(2);
    EXPECT_EQ(r.reader.read_int_field(), 1);
    for (int32_t channel : {0, 256}) {
        r.reader.begin_channel_fields(channel);
        EXPECT_EQ(r.status.code(), 1);
    }
    EXPECT_EQ(r.reader.read_int_field(), 2);  // still channel 2
}

TEST(ChannelSource, unread_bytes_stay_for_the_next_fields)
{
    ChannelReader r("5,6\r\n7\r\n");
    EXPECT_EQ(r.reader.read_int_field(), 5);
    r.reader.begin_channel_fields(2);  // selecting again keeps the channel's bytes
    EXPECT_EQ(r.reader.read_int_field(), 6);
    EXPECT_EQ(r.reader.read_int_field(), 7);
    EXPECT_TRUE(r.line.queue.empty());
}

TEST(ChannelSource, byte_given_back_to_a_full_store_is_lost)
{
    ChannelReader r("");
    const uint8_t held[] = {'a', 'b', 'c', 'd'};
    r.channels.push_back(2, held, 4);
    ChannelSource source(r.channels, 2, &r.status);
    source.unget_char('z');
    EXPECT_EQ(r.status.code(), status_io_failed);
    for (char expected : std::string("abcd"))
        EXPECT_EQ(source.get_char(), expected);
    EXPECT_EQ(source.get_char(), end_of_source);
}

TEST(ChannelSource, bytes_above_127_are_characters_not_the_end)
{
    ChannelReader r(std::string("\xff\x80,1"));
    EXPECT_EQ(r.reader.read_text_field(), "\xff\x80");
    EXPECT_EQ(r.reader.read_int_field(), 1);
}
