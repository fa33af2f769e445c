// Probing COM port paths for the port scanner, its listing, and its wait for a key.
#include "scan/port_probe.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/com_ports.h"

namespace {

constexpr int64_t key_check_interval_ms = 50;

bool is_character_device(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// An open terminal is held when another open of it has the lock. Our own lock,
// if we got it, goes at once.
PortProbe probe_open_terminal(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? PortProbe::held : PortProbe::present;
    flock(fd, LOCK_UN);
    return PortProbe::present;
}

}  // namespace

PortProbe probe_port(const std::string& path)
{
    if (path.empty())
        return PortProbe::absent;
    // O_NONBLOCK: a port waiting for carrier must not stall the scan.
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY)
            return PortProbe::held;
        // Permission refused on the device itself, not on the folder on the way to it.
        if (errno == EACCES && is_character_device(path))
            return PortProbe::held;
        return PortProbe::absent;
    }
    PortProbe result = isatty(fd) ? probe_open_terminal(fd) : PortProbe::absent;
    close(fd);
    return result;
}

std::vector<uint32_t> present_ports(const std::function<std::string(uint32_t)>& path_of)
{
    std::vector<uint32_t> ports;
    for (uint32_t port = 1; port <= highest_com_port; ++port) {
        if (probe_port(path_of(port)) != PortProbe::absent)
            ports.push_back(port);
    }
    return ports;
}

std::string port_list_text(const std::vector<uint32_t>& ports)
{
    std::string text;
    for (uint32_t port : ports)
        text += "COM" + std::to_string(port) + "\r\n";
    return text + "\r\nSleeping to Exit\r\n";
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

void wait_for_key(int fd, Clock& clock)
{
    while (!key_arrived(fd))
        clock.sleep_ms(key_check_interval_ms);
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
