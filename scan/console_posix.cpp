// The scanner's console on Linux: write(2) to standard output, and standard
// input in single-key mode, put back also when a signal ends the program.
#include "scan/console_posix.h"
#include "scan/console.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace {

// The terminal settings to put back if a signal ends the wait early.
termios console_settings{};
volatile std::sig_atomic_t console_changed = 0;

void restore_console_and_die(int signal_number)
{
    if (console_changed)
        tcsetattr(STDIN_FILENO, TCSANOW, &console_settings);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

void write_standard_output(const std::string& bytes)
{
    // A reader that went away must not kill the scanner before its key.
    std::signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        written += static_cast<size_t>(count);
    }
}

bool key_arrived(int fd)
{
    pollfd input{fd, POLLIN, 0};
    int ready = poll(&input, 1, 0);
    if (ready < 0)
        return errno != EINTR;
    if (ready == 0)
        return false;
    if (input.revents & POLLNVAL)
        return true;
    char bytes[64];
    ssize_t count = read(fd, bytes, sizeof bytes);
    if (count < 0)
        return errno != EAGAIN && errno != EINTR;
    return true;  // a key, or the end of input
}

SingleKeyMode::SingleKeyMode(int fd) : fd_(fd)
{
    if (!isatty(fd_) || tcgetattr(fd_, &saved_) != 0)
        return;
    termios single_key = saved_;
    single_key.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    single_key.c_cc[VMIN] = 1;
    single_key.c_cc[VTIME] = 0;
    active_ = tcsetattr(fd_, TCSANOW, &single_key) == 0;
}

SingleKeyMode::~SingleKeyMode()
{
    if (active_)
        tcsetattr(fd_, TCSANOW, &saved_);
}

struct ConsoleKeys::State {
    SingleKeyMode mode{STDIN_FILENO};
};

ConsoleKeys::ConsoleKeys() : state_(std::make_unique<State>())
{
    if (!state_->mode.active())
        return;
    console_settings = state_->mode.saved_settings();
    console_changed = 1;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        std::signal(signal_number, restore_console_and_die);
}

ConsoleKeys::~ConsoleKeys() { console_changed = 0; }

bool ConsoleKeys::key_arrived() { return ::key_arrived(STDIN_FILENO); }
