// Tests of fields read from a channel: one byte per device read, bytes given
// back through the channel's push-back store.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>

#include "core/clock.h"
#include "gfx/screen.h"
#include "io/channels.h"
#include "text/field_reader.h"

namespace {

// A module reply waiting in a receive queue; tell is the bytes waiting.
struct FakeLine {
    std::deque<uint8_t> queue;
    int reads = 0;
    int empty_reads = 0;
    int32_t read_result = status_ok;  // what the next reads report
    size_t largest_request = 0;
};

class FakeDevice final : public ChannelDevice {
public:
    explicit FakeDevice(FakeLine& line) : line_(line) {}
    bool at_end() override { return line_.queue.empty(); }
    int32_t close() override { return status_ok; }
    int64_t tell() override { return static_cast<int64_t>(line_.queue.size()); }
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override
    {
        ++line_.reads;
        line_.largest_request = std::max(line_.largest_request, count);
        bytes_read = 0;
        if (line_.read_result != status_ok)
            return line_.read_result;
        while (bytes_read < count && !line_.queue.empty()) {
            buffer[bytes_read++] = line_.queue.front();
            line_.queue.pop_front();
        }
        if (bytes_read == 0)
            ++line_.empty_reads;
        return status_ok;
    }
    int32_t write(const uint8_t*, size_t) override { return status_ok; }

private:
    FakeLine& line_;
};

struct ChannelReader {
    ErrorStatus status;
    Screen screen{status};
    ChannelTable channels{status};
    VirtualClock clock;
    FieldReader reader{status, screen, channels, clock};
    FakeLine line;

    ChannelReader(const std::string& bytes)
    {
        line.queue.assign(bytes.begin(), bytes.end());
        channels.open_on_device(2, std::make_unique<FakeDevice>(line), mode_binary, access_read_write);
        reader.begin_channel_fields(2);
    }
    uint32_t stored() const { return channels.channel(2)->push_back_count; }
};

void expect_module_reply(FieldReader& reader)
{
    EXPECT_EQ(reader.read_text_field(), "X");
    EXPECT_EQ(reader.read_int_field(), 12);
    EXPECT_EQ(reader.read_int_field(), 0);
    EXPECT_EQ(reader.read_int_field(), 512);
    EXPECT_EQ(reader.read_int_field(), 600);
    EXPECT_EQ(reader.read_int_field(), 700);
    EXPECT_EQ(reader.read_int_field(), 1812);
}

}  // namespace

TEST(ChannelSource, reply_with_cr_lf_leaves_nothing_unread)
{
    ChannelReader r("X,12,0,512,600,700,1812\r\n");
    EXPECT_EQ(r.status.code(), 0);
    expect_module_reply(r.reader);
    EXPECT_TRUE(r.line.queue.empty());
    EXPECT_EQ(r.stored(), 0u);
    EXPECT_EQ(r.line.reads, 25);  // one device read per byte, none past the line end
    EXPECT_EQ(r.line.largest_request, 1u);
    EXPECT_EQ(r.line.empty_reads, 0);
}

TEST(ChannelSource, reply_with_line_feed_alone_leaves_nothing_unread)
{
    ChannelReader r("X,12,0,512,600,700,1812\n");
    expect_module_reply(r.reader);
    EXPECT_TRUE(r.line.queue.empty());
    EXPECT_EQ(r.stored(), 0u);
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
    ChannelReader r("X,12,0,512,600\r\n");
    EXPECT_EQ(r.reader.read_text_field(), "X");
    EXPECT_EQ(r.reader.read_int_field(), 12);
    EXPECT_EQ(r.reader.read_int_field(), 0);
    EXPECT_EQ(r.reader.read_int_field(), 512);
    EXPECT_EQ(r.reader.read_int_field(), 600);
    EXPECT_EQ(r.line.empty_reads, 0);
    EXPECT_EQ(r.reader.read_int_field(), 0);
    EXPECT_EQ(r.line.empty_reads, 1);
    EXPECT_EQ(r.reader.read_int_field(), 0);
    EXPECT_EQ(r.line.empty_reads, 2);
    EXPECT_EQ(r.stored(), 0u);
    EXPECT_EQ(r.status.code(), 0);
}

TEST(ChannelSource, failed_read_ends_the_source)
{
    ChannelReader r("12,34");
    EXPECT_EQ(r.reader.read_int_field(), 12);
    r.line.read_result = status_io_failed;
    EXPECT_EQ(r.reader.read_int_field(), 0);
    EXPECT_EQ(r.status.code(), 0);  // the field read resets it
    r.line.read_result = status_ok;
    EXPECT_EQ(r.reader.read_int_field(), 34);
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
    r.reader.begin_channel_fields(0);
    EXPECT_EQ(r.status.code(), 1);
    r.reader.begin_channel_fields(256);
    EXPECT_EQ(r.status.code(), 1);
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
