// Making, checking and removing the simulator's COM link and its owner record.
#include "tools/modsim_link.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "core/com_ports.h"

namespace {

std::string owner_record_path(const std::string& ports_dir, uint32_t port_number)
{
    std::string dir = ports_dir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir + ".COM" + std::to_string(port_number) + ".modsim";
}

// The target of a symbolic link, or empty when it cannot be read.
std::string link_target(const std::string& path)
{
    char buffer[4096];
    ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return {};
    return std::string(buffer, static_cast<size_t>(length));
}

struct OwnerRecord {
    long pid = 0;
    std::string target;
};

bool read_owner_record(const std::string& path, OwnerRecord& record)
{
    std::ifstream file(path);
    if (!file)
        return false;
    return static_cast<bool>(file >> record.pid >> record.target) && record.pid > 0;
}

bool process_alive(long pid)
{
    if (pid <= 0 || pid > INT32_MAX)
        return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Writes to a temporary name and renames it into place, so no reader ever sees
// half a record and a link is never missing while it is replaced.
bool write_owner_record(const std::string& path, long pid, const std::string& target)
{
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << pid << ' ' << target << '\n';
        if (!file.flush())
            return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool place_link(const std::string& path, const std::string& target)
{
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0)
        return false;
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string system_error_text(const std::string& what) { return what + ": " + std::strerror(errno); }

// Whether the existing entry at link.link_path may be replaced; false with the reason.
bool may_replace(const ComLink& link, std::string& error)
{
    struct stat entry {};
    if (lstat(link.link_path.c_str(), &entry) != 0) {
        if (errno == ENOENT)
            return true;
        error = system_error_text(link.link_path);
        return false;
    }
    if (!S_ISLNK(entry.st_mode)) {
        error = link.link_path + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    struct stat device {};
    if (stat(link.link_path.c_str(), &device) != 0)
        return true;  // dangling: whatever it named is gone

    std::string current_target = link_target(link.link_path);
    OwnerRecord owner;
    if (read_owner_record(link.owner_path, owner) && owner.target == current_target) {
        if (!process_alive(owner.pid))
            return true;  // left behind by a simulator that died; its device is someone else's now
        error = link.link_path + " is served by another simulator (pid " + std::to_string(owner.pid) + ")";
        return false;
    }
    error = link.link_path + " points to " + current_target + ", which exists; remove the link first";
    return false;
}

}  // namespace

bool claim_com_link(const std::string& ports_dir, uint32_t port_number, const std::string& target, long owner_pid,
                    ComLink& link, std::string& error)
{
    link.link_path = com_port_path_in(ports_dir, port_number);
    if (link.link_path.empty()) {
        error = "port number " + std::to_string(port_number) + " is outside 1 to 255";
        return false;
    }
    link.owner_path = owner_record_path(ports_dir, port_number);
    link.target = target;
    link.owner_pid = owner_pid;

    if (mkdir(ports_dir.c_str(), 0777) != 0 && errno != EEXIST) {
        error = system_error_text(ports_dir);
        return false;
    }
    if (!may_replace(link, error))
        return false;
    if (!write_owner_record(link.owner_path, owner_pid, target)) {
        error = system_error_text(link.owner_path);
        return false;
    }
    if (!place_link(link.link_path, target)) {
        error = system_error_text(link.link_path);
        unlink(link.owner_path.c_str());
        return false;
    }
    return true;
}

void release_com_link(const ComLink& link)
{
    if (link.link_path.empty())
        return;
    if (link_target(link.link_path) == link.target)
        unlink(link.link_path.c_str());
    OwnerRecord owner;
    if (read_owner_record(link.owner_path, owner) && owner.pid == link.owner_pid && owner.target == link.target)
        unlink(link.owner_path.c_str());
}
