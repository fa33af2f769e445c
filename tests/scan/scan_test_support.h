// Shared set-up of the port scanner tests: pseudo-terminals standing in for
// serial ports, and a private temporary folder for ports and links.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "support/temp_folder.h"

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
    ~Pty()
    {
        if (master >= 0)
            close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Whether anything was written to the port.
    bool has_bytes_from_slave() const
    {
        pollfd readable{master, POLLIN, 0};
        return poll(&readable, 1, 0) == 1 && (readable.revents & POLLIN);
    }
};
