// Pseudo-terminals standing in for serial ports, and reading what comes out of
// one (or of any descriptor) for POSIX tests.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

// A pseudo-terminal whose slave stands in for a serial port.
struct Pty {
    int master = -1;
    std::string slave;

    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = ptsname(master);
    }
    ~Pty() { hang_up(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Closes the master side: the port's user sees a hang-up.
    void hang_up()
    {
        if (master >= 0)
            close(master);
        master = -1;
    }

    // Whether anything was written to the port.
    bool has_bytes_from_slave() const
    {
        pollfd readable{master, POLLIN, 0};
        return poll(&readable, 1, 0) == 1 && (readable.revents & POLLIN);
    }
};

// Bytes from fd until `end` has come, the other side hangs up (hung_up is set),
// or nothing comes for timeout_ms.
inline std::string read_until(int fd, std::string_view end, int timeout_ms, bool* hung_up = nullptr)
{
    std::string bytes;
    while (bytes.find(end) == std::string::npos) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, timeout_ms) <= 0)
            break;
        char buffer[256];
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count > 0) {
            bytes.append(buffer, static_cast<size_t>(count));
        } else if (count == 0 || errno == EIO || (readable.revents & POLLHUP)) {
            if (hung_up != nullptr)
                *hung_up = true;
            break;
        }
    }
    return bytes;
}
