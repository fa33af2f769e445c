// The port scanner's parts: probing one COM port path, scanning 1 to 255, the
// listing it prints, and the wait for a key on the console.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <termios.h>
#include <vector>

#include "core/clock.h"

enum class PortProbe {
    absent,   // missing, a dangling link, not a terminal, or the device does not answer an open
    present,  // opens as a terminal and nobody holds it
    held,     // a terminal another program holds (exclusive mode or a lock), or one we may not open
};

// Opens the path without configuring or writing anything and closes it at once.
// EBUSY on open, or a lock that cannot be had, means another program holds the
// port. EACCES means the device exists but this user may not open it: counted as
// held when the path is a character device, since the port is there all the same.
PortProbe probe_port(const std::string& path);

// The numbers from 1 to 255 whose path (by path_of) probes as present or held, in increasing order.
std::vector<uint32_t> present_ports(const std::function<std::string(uint32_t)>& path_of);

// "COM<n>" lines, an empty line, then "Sleeping to Exit"; every line ends in CR LF.
std::string port_list_text(const std::vector<uint32_t>& ports);

// Looks once at fd: true when a byte was there (it and any bytes right behind it,
// such as the rest of an arrow key's sequence, are consumed), at end of input, or
// when fd cannot be read at all, so a scan without a console still ends.
bool key_arrived(int fd);

// Looks at fd every 50 ms until key_arrived.
void wait_for_key(int fd, Clock& clock);

// While it lives, a terminal on fd gives each key at once without echoing it;
// the previous settings come back when it ends. Does nothing when fd is no terminal.
class SingleKeyMode {
public:
    explicit SingleKeyMode(int fd);
    ~SingleKeyMode();
    SingleKeyMode(const SingleKeyMode&) = delete;
    SingleKeyMode& operator=(const SingleKeyMode&) = delete;

    bool active() const { return active_; }
    const termios& saved_settings() const { return saved_; }

private:
    int fd_;
    bool active_ = false;
    termios saved_{};
};
