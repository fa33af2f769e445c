// Disk files where only Linux can set the scene: a device that is always full,
// and a program that ends with its channels still open.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "io/disk_file.h"
#include "io_test_support.h"

namespace {

namespace fs = std::filesystem;

using DiskFileOnLinux = DiskFileFixture;

TEST_F(DiskFileOnLinux, full_disk_is_reported_by_write_flush_and_close)
{
    channels.open_file(1, "/dev/full", mode_binary, 0, 0, 0);
    ASSERT_EQ(status.code(), status_ok);
    channels.put_data(1, "row");
    EXPECT_EQ(status.code(), status_ok);  // still in the buffer
    channels.flush(1);
    EXPECT_EQ(status.code(), status_io_failed);
    channels.put_data(1, "row");
    channels.close(1);
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_TRUE(channels.is_open(1));
    channels.put_data(1, std::string(disk_file_buffer_bytes * 2, 'x'));
    EXPECT_EQ(status.code(), status_io_failed);
}

// The program's own table closes its channels when the program ends normally.
TEST_F(DiskFileOnLinux, program_table_holds_every_byte_after_exit)
{
    const std::string name = path("exit.csv");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        open_channel_file(1, name, mode_binary, 0, 0, 0);
        put_data(1, "last row");
        std::exit(0);
    }
    int wait_status = 0;
    ASSERT_EQ(waitpid(child, &wait_status, 0), child);
    EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0);
    EXPECT_EQ(read_file("exit.csv"), "last row");
}

}  // namespace
