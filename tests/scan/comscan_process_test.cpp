// build/comscan as a process, over a ports folder of pseudo-terminals, a held
// port, a dangling link and a plain file.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "scan_test_support.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string comscan_program = std::string(LOGGER_BUILD_DIR) + "/comscan";

// comscan with LOGGER_PORTS set, its standard input and output on pipes.
class Scanner {
public:
    explicit Scanner(const std::string& ports_dir)
    {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);

        std::vector<std::string> environment = {"LOGGER_PORTS=" + ports_dir};
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (!std::string_view(*variable).starts_with("LOGGER_PORTS="))
                environment.emplace_back(*variable);
        }
        std::vector<char*> envp;
        for (std::string& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        std::string program = comscan_program;
        char* argv[] = {program.data(), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        stdin_fd_ = in[1];
        stdout_fd_ = out[0];
    }
    ~Scanner()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close_input();
        if (stdout_fd_ >= 0)
            close(stdout_fd_);
    }

    // Output up to and including "Sleeping to Exit\r\n", or what came before a 5 s silence.
    std::string read_listing()
    {
        std::string text;
        while (!text.ends_with("Sleeping to Exit\r\n")) {
            pollfd readable{stdout_fd_, POLLIN, 0};
            char buffer[256];
            if (poll(&readable, 1, 5000) <= 0)
                break;
            ssize_t count = read(stdout_fd_, buffer, sizeof buffer);
            if (count <= 0)
                break;
            text.append(buffer, static_cast<size_t>(count));
        }
        return text;
    }

    // True when the program is still running after waiting up to wait_ms for it to end.
    bool still_running_after(int wait_ms)
    {
        pollfd output{stdout_fd_, POLLIN, 0};
        if (poll(&output, 1, wait_ms) == 1) {
            char extra;
            if (read(stdout_fd_, &extra, 1) != 0)
                ADD_FAILURE() << "output after the listing";
            return false;  // output closed: the program ended
        }
        return true;
    }

    void type(const char* bytes) { EXPECT_EQ(write(stdin_fd_, bytes, strlen(bytes)), ssize_t(strlen(bytes))); }
    void close_input()
    {
        if (stdin_fd_ >= 0)
            close(stdin_fd_);
        stdin_fd_ = -1;
    }

    int wait_exit(int timeout_ms = 5000)
    {
        for (int waited_ms = 0; waited_ms <= timeout_ms; waited_ms += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10'000);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    int stdout_fd_ = -1;
};

class ComscanProcess : public ::testing::Test {
protected:
    TempFolder temp;
    const std::string& dir_ = temp.path;

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

    Scanner scanner(dir_);
    EXPECT_EQ(scanner.read_listing(), "COM1\r\nCOM3\r\nCOM10\r\n\r\nSleeping to Exit\r\n");
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
    Scanner scanner(dir_);
    EXPECT_EQ(scanner.read_listing(), "\r\nSleeping to Exit\r\n");
    EXPECT_TRUE(scanner.still_running_after(300));
    scanner.close_input();
    EXPECT_EQ(scanner.wait_exit(), 0);
}
