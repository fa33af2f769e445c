// build/comscan as a process, over a ports folder of pseudo-terminals, a held
// port, a dangling link and a plain file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

const std::string comscan_program = std::string(LOGGER_BUILD_DIR) + "/comscan";

class ComscanProcess : public ::testing::Test {
protected:
    ScopedTempFolder temp{"scan_test"};
    const std::string dir_ = temp.path.string();

    void link_port(int n, const std::string& target) const
    {
        fs::create_symlink(target, dir_ + "/COM" + std::to_string(n));
    }
};

}  // namespace

TEST_F(ComscanProcess, lists_free_and_held_ports_and_leaves_them_untouched)
{
    Pty com1;
    Pty com3;
    Pty com10;
    link_port(1, com1.slave);
    link_port(3, com3.slave);
    link_port(10, com10.slave);
    link_port(7, dir_ + "/unplugged");
    std::ofstream(dir_ + "/COM5") << "a file, not a port";

    // COM3 is held the way the logger holds its port: exclusive mode and a lock.
    int holder = open(com3.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    termios settings_before{};
    tcgetattr(holder, &settings_before);

    ChildProcess scanner(comscan_program, {}, {"LOGGER_PORTS=" + dir_});
    EXPECT_EQ(scanner.output_until("Sleeping to Exit\r\n"), "COM1\r\nCOM3\r\nCOM10\r\n\r\nSleeping to Exit\r\n");
    EXPECT_TRUE(scanner.still_running_after(300));
    scanner.type("k");
    EXPECT_EQ(scanner.wait_exit(), 0);

    // Nothing was sent to any port, and the held port's settings are as they were.
    EXPECT_FALSE(com1.has_bytes_from_slave());
    EXPECT_FALSE(com3.has_bytes_from_slave());
    EXPECT_FALSE(com10.has_bytes_from_slave());
    termios settings_after{};
    tcgetattr(holder, &settings_after);
    EXPECT_EQ(settings_after.c_cflag, settings_before.c_cflag);
    EXPECT_EQ(settings_after.c_lflag, settings_before.c_lflag);
    EXPECT_EQ(cfgetispeed(&settings_after), cfgetispeed(&settings_before));
    close(holder);
}

TEST_F(ComscanProcess, no_ports_gives_only_the_closing_lines_and_end_of_input_ends_it)
{
    ChildProcess scanner(comscan_program, {}, {"LOGGER_PORTS=" + dir_});
    EXPECT_EQ(scanner.output_until("Sleeping to Exit\r\n"), "\r\nSleeping to Exit\r\n");
    EXPECT_TRUE(scanner.still_running_after(300));
    scanner.close_input();
    EXPECT_EQ(scanner.wait_exit(), 0);
}
