// Probing COM ports on Linux: a COM number means a device path (the shared
// port rule), and a port is a terminal that opens or that someone else holds.
#include "scan/port_probe.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/com_ports.h"

namespace {

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

std::string port_device_name(uint32_t port) { return com_port_path(port); }

// EBUSY on open (exclusive mode), or a lock that cannot be had, means another
// program holds the port. EACCES means the device exists but this user may not
// open it: counted as held when the path is a character device, since the port
// is there all the same. Missing paths, dangling links, files, folders, fifos
// and devices that are no terminal are absent.
PortProbe probe_port(const std::string& device_name)
{
    if (device_name.empty())
        return PortProbe::absent;
    // O_NONBLOCK: a port waiting for carrier must not stall the scan.
    int fd = open(device_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY)
            return PortProbe::held;
        // Permission refused on the device itself, not on the folder on the way to it.
        if (errno == EACCES && is_character_device(device_name))
            return PortProbe::held;
        return PortProbe::absent;
    }
    PortProbe result = isatty(fd) ? probe_open_terminal(fd) : PortProbe::absent;
    close(fd);
    return result;
}
