// The exchange with the module over the serial channel: drain, request, record.
#include <gtest/gtest.h>

#include "app/link.h"
#include "io/channels.h"
#include "program_fixture.h"

namespace {

class Link : public ::testing::Test {
protected:
    void SetUp() override
    {
        open_channel_port(2, "COM3:38400,n,8,1,cs0,cd0,ds0,rs", mode_random, 0, 0, 0);
        ASSERT_EQ(error_code(), 0);
    }
    void arrive(const std::string& bytes)
    {
        program.module.incoming.insert(program.module.incoming.end(), bytes.begin(), bytes.end());
    }
    ProgramFixture program;
};

}  // namespace

TEST_F(Link, a_stale_reply_is_drained_and_the_fresh_one_is_read)
{
    arrive("X,0,1,9,9,9,28\r\nX,0,0,7,7,7,21\r\n");
    program.module.reply_for = [](int32_t) { return module_reply(1, 100, 200, 300); };
    drain_serial_channel();
    EXPECT_EQ(serial_bytes_waiting(), 0);
    send_request();
    const ReadingRecord record = read_reading_record();
    EXPECT_EQ(record.ad1, 100);
    EXPECT_EQ(record.checksum, 601);
    EXPECT_EQ(serial_bytes_waiting(), 0);
}

TEST_F(Link, the_request_is_x_and_a_line_end_followed_by_a_50_ms_wait)
{
    std::string seen;
    program.module.on_request = [&](int32_t) { seen = "request"; };
    const int64_t before_ms = program.clock.total_slept_ms();
    send_request();
    EXPECT_EQ(seen, "request");
    EXPECT_EQ(program.module.written, "");
    EXPECT_EQ(program.clock.total_slept_ms() - before_ms, 50);
}

TEST_F(Link, a_five_field_reply_gives_zero_for_the_missing_fields)
{
    arrive("X,1,1,5,6\r\n");
    const ReadingRecord record = read_reading_record();
    EXPECT_EQ(record.marker, "X");
    EXPECT_EQ(record.ad2, 6);
    EXPECT_EQ(record.ad3, 0);
    EXPECT_EQ(record.checksum, 0);
    EXPECT_FALSE(checksum_holds(record));
}

TEST_F(Link, garbage_without_separators_is_drained_without_hanging)
{
    arrive(std::string(5000, 'Z'));
    drain_serial_channel();
    EXPECT_EQ(serial_bytes_waiting(), 0);
}
