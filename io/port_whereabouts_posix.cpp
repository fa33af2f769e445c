// Whereabouts on Linux: the tty behind the COM name's link, the USB adapter
// sysfs names for it, and that adapter's tty now, whatever its new name.
#include "io/port_whereabouts.h"

#include <filesystem>
#include <system_error>

#include "core/com_ports.h"
#include "io/sysfs_adapters.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view sysfs_root = "/sys";
constexpr std::string_view device_folder = "/dev";

// "ttyUSB0" for a path that leads to /dev/ttyUSB0; empty for a pseudo-terminal
// (/dev/pts/N), whose number names no tty in sysfs, and for anything else.
std::string tty_name_of(const std::string& device_path)
{
    std::error_code error;
    const fs::path resolved = fs::canonical(device_path, error);
    if (error || resolved.parent_path() != device_folder)
        return {};
    return resolved.filename().string();
}

}  // namespace

PortWhereabouts port_whereabouts(uint32_t port_number, const std::string& device_path)
{
    PortWhereabouts whereabouts{port_number, device_path, tty_name_of(device_path), std::nullopt};
    if (!whereabouts.tty_name.empty())
        whereabouts.adapter = adapter_identity(sysfs_root, whereabouts.tty_name);
    return whereabouts;
}

std::string find_port_again(const PortWhereabouts& last)
{
    if (!last.adapter) {
        const std::string path = com_port_path(last.port_number);
        std::error_code error;
        return !path.empty() && fs::exists(path, error) ? path : std::string();
    }
    const std::string tty_name = find_adapter_tty(sysfs_root, last.tty_name, *last.adapter);
    return tty_name.empty() ? std::string() : (fs::path(device_folder) / tty_name).string();
}
