// A program of the build run by a POSIX test, its standard input and output on pipes.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "support/pty.h"

extern char** environ;

// Killed and reaped on destruction, so a failing test leaves nothing behind.
class ChildProcess {
public:
    // `environment` holds "NAME=value" entries that replace the test's own.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment = {})
    {
        int in[2];
        int out[2];
        // Close-on-exec: no other program started meanwhile keeps this one's pipes open.
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> all_args = {program};
        all_args.insert(all_args.end(), args.begin(), args.end());
        std::vector<std::string> all_variables = environment;
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string_view text(*variable);
            bool replaced = false;
            for (const std::string& given : environment)
                replaced = replaced || text.starts_with(given.substr(0, given.find('=') + 1));
            if (!replaced)
                all_variables.emplace_back(text);
        }
        std::vector<char*> argv = pointers(all_args);
        std::vector<char*> envp = pointers(all_variables);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input_fd_ = in[1];
        output_fd_ = out[0];
    }
    ~ChildProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close_input();
        if (output_fd_ >= 0)
            close(output_fd_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }

    // Output up to and including `end`, or all that came before timeout_ms of
    // silence; what came after `end` is kept for the next call.
    std::string output_until(std::string_view end, int timeout_ms = 5000)
    {
        if (pending_.find(end) == std::string::npos)
            pending_ += read_until(output_fd_, end, timeout_ms);
        const size_t found = pending_.find(end);
        const size_t length = found == std::string::npos ? pending_.size() : found + end.size();
        std::string text = pending_.substr(0, length);
        pending_.erase(0, length);
        return text;
    }

    // True when still running after waiting up to wait_ms for its output to close.
    bool still_running_after(int wait_ms)
    {
        pollfd output{output_fd_, POLLIN, 0};
        if (poll(&output, 1, wait_ms) != 1)
            return true;
        char extra;
        EXPECT_EQ(read(output_fd_, &extra, 1), 0) << "output that was not expected";
        return false;
    }

    void type(std::string_view bytes)
    {
        EXPECT_EQ(write(input_fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void close_input()
    {
        if (input_fd_ >= 0)
            close(input_fd_);
        input_fd_ = -1;
    }
    void signal(int signal_number) { kill(pid_, signal_number); }

    // The exit status (128 + the signal's number for a killed one), or -1 while
    // still running after timeout_ms.
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
    static std::vector<char*> pointers(std::vector<std::string>& texts)
    {
        std::vector<char*> result;
        for (std::string& text : texts)
            result.push_back(text.data());
        result.push_back(nullptr);
        return result;
    }

    pid_t pid_ = -1;
    int input_fd_ = -1;
    int output_fd_ = -1;
    std::string pending_;
};
