// Disk files behind channels: what each open mode finds and leaves on disk,
// names with either folder separator, buffering, and files at program end.
#include "io/disk_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "io_test_support.h"

namespace {

namespace fs = std::filesystem;

using DiskFileTest = DiskFileFixture;

TEST_F(DiskFileTest, input_open_of_a_missing_name_fails_then_an_existing_one_opens)
{
    channels.open_file(1, path("DATA001.CSV"), mode_input, 0, 0, 0);
    EXPECT_EQ(status.code(), status_cannot_open);
    EXPECT_FALSE(channels.is_open(1));
    EXPECT_FALSE(fs::exists(path("DATA001.CSV")));

    write_file("DATA001.CSV", "hello");
    channels.open_file(1, path("DATA001.CSV"), mode_input, 0, 0, 0);
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_EQ(channels.channel(1)->size, 5);
    uint8_t first = 0;
    EXPECT_EQ(channels.get_data(1, &first, 1), 1u);
    EXPECT_EQ(first, 'h');
    channels.close(1);
    EXPECT_EQ(status.code(), status_ok);
}

TEST_F(DiskFileTest, binary_open_of_a_missing_name_creates_an_empty_read_write_file)
{
    channels.open_file(1, path("new.csv"), mode_binary, access_default, 0, 0);
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_TRUE(fs::exists(path("new.csv")));
    EXPECT_EQ(channels.channel(1)->size, 0);
    EXPECT_EQ(channels.channel(1)->access, access_read_write);
    channels.put_data(1, "row\r\n");
    channels.close(1);
    EXPECT_EQ(read_file("new.csv"), "row\r\n");
}

TEST_F(DiskFileTest, binary_open_keeps_contents_and_overwrites_from_the_start)
{
    write_file("old.csv", "abcdef");
    channels.open_file(1, path("old.csv"), mode_binary, access_default, 0, 0);
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_EQ(channels.channel(1)->size, 6);
    EXPECT_EQ(channels.location(1), 0);
    channels.put_data(1, "XYZ");
    EXPECT_EQ(channels.location(1), 3);
    channels.close(1);
    EXPECT_EQ(read_file("old.csv"), "XYZdef");
}

TEST_F(DiskFileTest, backslash_and_slash_name_the_same_file)
{
    fs::create_directory(folder / "sub");
    channels.open_file(1, folder.string() + "\\sub\\f.txt", mode_output, 0, 0, 0);
    ASSERT_EQ(status.code(), status_ok);
    channels.put_data(1, "one");
    channels.close(1);
    EXPECT_EQ(read_file("sub/f.txt"), "one");
    channels.open_file(2, path("sub/f.txt"), mode_append, 0, 0, 0);
    EXPECT_EQ(channels.channel(2)->size, 3);
    channels.put_data(2, "two");
    channels.close(2);
    EXPECT_EQ(read_file("sub/f.txt"), "onetwo");
}

TEST_F(DiskFileTest, one_byte_writes_reach_the_disk_only_when_the_8192_byte_buffer_overflows_or_on_flush)
{
    struct Case {
        size_t writes;
        uintmax_t on_disk_before_close;
    } cases[] = {
        {4097, 0},
        {disk_file_buffer_bytes, 0},
        {disk_file_buffer_bytes + 1, disk_file_buffer_bytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.writes);
        channels.open_file(1, path("bytes.csv"), mode_binary, access_default, 0, 0);
        for (size_t i = 0; i < c.writes; ++i)
            channels.put_data(1, "b");
        EXPECT_EQ(fs::file_size(path("bytes.csv")), c.on_disk_before_close);
        channels.flush(1);
        EXPECT_EQ(status.code(), status_ok);
        EXPECT_EQ(fs::file_size(path("bytes.csv")), c.writes);
        channels.close(1);
        fs::remove(path("bytes.csv"));
    }
}

TEST_F(DiskFileTest, refused_opens_leave_the_channel_closed)
{
    struct Case {
        std::string name;
        int32_t mode;
        uint32_t access;
        int32_t expected;
    } cases[] = {
        {path("x"), 5, 0, status_not_allowed},
        {path("x"), -1, 0, status_not_allowed},
        {path("missing/x"), mode_binary, 0, status_cannot_open},
        {folder.string(), mode_binary, 0, status_cannot_open},
        {folder.string(), mode_output, 0, status_cannot_open},
        {path("x") + std::string(1, '\0') + "y", mode_binary, 0, status_cannot_open},
        {path("absent"), mode_binary, access_read, status_cannot_open},
        {"", mode_input, 0, status_cannot_open},
    };
    for (const Case& c : cases) {
        channels.open_file(3, c.name, c.mode, c.access, 0, 0);
        EXPECT_EQ(status.code(), c.expected) << c.name << " mode " << c.mode;
        EXPECT_FALSE(channels.is_open(3));
    }
    EXPECT_FALSE(fs::exists(path("x")));
    EXPECT_FALSE(fs::exists(path("absent")));
}

TEST_F(DiskFileTest, reading_after_writing_on_one_stream_sees_the_written_bytes)
{
    write_file("rw.bin", "0123456789");
    channels.open_file(1, path("rw.bin"), mode_binary, 0, 0, 0);
    channels.put_data(1, "ab");
    uint8_t bytes[3] = {};
    EXPECT_EQ(channels.get_data(1, bytes, 3), 3u);
    EXPECT_EQ(std::string(bytes, bytes + 3), "234");
    channels.put_data(1, "Z");
    channels.close(1);
    EXPECT_EQ(read_file("rw.bin"), "ab234Z6789");
}

}  // namespace
