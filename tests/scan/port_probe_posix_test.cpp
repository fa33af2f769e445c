// Probing paths as COM ports on Linux, and standard input as the key:
// pseudo-terminals, locks, pipes and terminal settings.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scan/console_posix.h"
#include "scan/port_probe.h"
#include "support/pty.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class PortProbeFiles : public ::testing::Test {
protected:
    ScopedTempFolder temp{"scan_test"};
    const std::string dir_ = temp.path.string();
};

}  // namespace

TEST_F(PortProbeFiles, only_terminals_are_ports)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    fs::create_symlink(pty.slave, dir_ + "/tty_link");
    fs::create_symlink(dir_ + "/nothing", dir_ + "/dangling");
    std::ofstream(dir_ + "/file") << "not a port";
    ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);

    EXPECT_EQ(probe_port(pty.slave), PortProbe::present);
    EXPECT_EQ(probe_port(dir_ + "/tty_link"), PortProbe::present);
    EXPECT_EQ(probe_port(dir_ + "/dangling"), PortProbe::absent);
    EXPECT_EQ(probe_port(dir_ + "/file"), PortProbe::absent);
    EXPECT_EQ(probe_port(dir_ + "/fifo"), PortProbe::absent);
    EXPECT_EQ(probe_port(dir_), PortProbe::absent);
    EXPECT_EQ(probe_port(dir_ + "/missing"), PortProbe::absent);
    EXPECT_EQ(probe_port("/dev/null"), PortProbe::absent);
    EXPECT_EQ(probe_port(""), PortProbe::absent);
}

TEST_F(PortProbeFiles, locked_terminal_is_held_and_the_probe_takes_no_lasting_lock)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    int holder = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(probe_port(pty.slave), PortProbe::held);
    flock(holder, LOCK_UN);

    EXPECT_EQ(probe_port(pty.slave), PortProbe::present);
    // The probe let its own lock go: the port can be locked again at once.
    EXPECT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    close(holder);
}

TEST(KeyArrived, a_byte_in_a_pipe_is_the_key_and_the_bytes_behind_it_go_too)
{
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_NONBLOCK), 0);
    VirtualClock clock;
    int sleeps = 0;
    clock.set_on_sleep([&](int64_t delay_ms) {
        EXPECT_EQ(delay_ms, 50);
        if (++sleeps == 4) {
            ASSERT_EQ(write(pipe_fds[1], "\x1b[A", 3), 3);  // an arrow key: three bytes
        }
    });
    wait_for_key([&] { return key_arrived(pipe_fds[0]); }, clock);
    EXPECT_EQ(clock.total_slept_ms(), 200);
    // The whole key was taken, so nothing of it is left for the shell.
    char rest;
    EXPECT_EQ(read(pipe_fds[0], &rest, 1), -1);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}

TEST(KeyArrived, end_of_input_or_no_input_counts_as_the_key)
{
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    close(pipe_fds[1]);
    EXPECT_TRUE(key_arrived(pipe_fds[0]));
    close(pipe_fds[0]);

    EXPECT_TRUE(key_arrived(pipe_fds[0]));  // closed descriptor: nothing will ever come
}

TEST(SingleKeyMode, terminal_loses_line_editing_and_echo_until_restored)
{
    Pty pty;
    int fd = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios before{};
    tcgetattr(fd, &before);
    ASSERT_TRUE(before.c_lflag & ICANON);
    {
        SingleKeyMode mode(fd);
        EXPECT_TRUE(mode.active());
        termios during{};
        tcgetattr(fd, &during);
        EXPECT_FALSE(during.c_lflag & ICANON);
        EXPECT_FALSE(during.c_lflag & ECHO);
        // One key press is readable at once, without a line end.
        ASSERT_EQ(write(pty.master, "q", 1), 1);
        pollfd readable{fd, POLLIN, 0};
        ASSERT_EQ(poll(&readable, 1, 5000), 1);
        EXPECT_TRUE(key_arrived(fd));
    }
    termios after{};
    tcgetattr(fd, &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    close(fd);

    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    SingleKeyMode not_a_terminal(pipe_fds[0]);
    EXPECT_FALSE(not_a_terminal.active());
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}
