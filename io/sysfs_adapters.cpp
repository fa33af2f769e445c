// Reads sysfs as files: the tty's device link, the USB device's attributes, and
// the ttys there are, choosing among them by what the adapter said of itself.
#include "io/sysfs_adapters.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The ttys a USB serial adapter gets: usb-serial drivers' and CDC ACM ones.
constexpr std::string_view adapter_tty_prefixes[] = {"ttyUSB", "ttyACM"};

fs::path tty_folder(std::string_view sysfs_root, std::string_view tty_name)
{
    return fs::path(sysfs_root) / "class" / "tty" / tty_name;
}

// The first line of an attribute file, without its line end; nullopt when the file is not there.
std::optional<std::string> read_attribute(const fs::path& folder, const char* name)
{
    std::ifstream in(folder / name);
    if (!in)
        return std::nullopt;
    std::string value;
    std::getline(in, value);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' '))
        value.pop_back();
    return value;
}

bool inside(const fs::path& folder, const fs::path& root)
{
    return std::mismatch(root.begin(), root.end(), folder.begin(), folder.end()).first == root.end();
}

bool adapter_tty_name(const std::string& name)
{
    return std::any_of(std::begin(adapter_tty_prefixes), std::end(adapter_tty_prefixes),
                       [&](std::string_view prefix) { return name.starts_with(prefix); });
}

std::vector<std::string> adapter_ttys(std::string_view sysfs_root)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(sysfs_root) / "class" / "tty", error)) {
        std::string name = entry.path().filename().string();
        if (adapter_tty_name(name))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool same_place(const AdapterIdentity& a, const AdapterIdentity& b)
{
    return a.bus_number == b.bus_number && a.usb_port_path == b.usb_port_path;
}

}  // namespace

std::optional<AdapterIdentity> adapter_identity(std::string_view sysfs_root, std::string_view tty_name)
{
    if (tty_name.empty() || tty_name.find('/') != std::string_view::npos)
        return std::nullopt;
    std::error_code error;
    const fs::path root = fs::canonical(sysfs_root, error);
    if (error)
        return std::nullopt;
    fs::path folder = fs::canonical(tty_folder(sysfs_root, tty_name) / "device", error);
    if (error)
        return std::nullopt;
    // The link leads to the tty's port or interface; the USB device holding the ids is a parent.
    for (; inside(folder, root) && folder != root; folder = folder.parent_path()) {
        std::optional<std::string> vendor_id = read_attribute(folder, "idVendor");
        if (!vendor_id)
            continue;
        AdapterIdentity identity;
        identity.vendor_id = std::move(*vendor_id);
        identity.product_id = read_attribute(folder, "idProduct").value_or("");
        identity.serial_number = read_attribute(folder, "serial").value_or("");
        identity.bus_number = read_attribute(folder, "busnum").value_or("");
        identity.usb_port_path = read_attribute(folder, "devpath").value_or("");
        return identity;
    }
    return std::nullopt;
}

bool same_adapter(const AdapterIdentity& recorded, const AdapterIdentity& seen)
{
    if (recorded.vendor_id != seen.vendor_id || recorded.product_id != seen.product_id)
        return false;
    if (recorded.serial_number.empty())
        return seen.serial_number.empty() && same_place(recorded, seen);
    return recorded.serial_number == seen.serial_number;
}

std::string find_adapter_tty(std::string_view sysfs_root, std::string_view last_tty, const AdapterIdentity& adapter)
{
    if (const std::optional<AdapterIdentity> seen = adapter_identity(sysfs_root, last_tty);
        seen && same_adapter(adapter, *seen))
        return std::string(last_tty);
    std::vector<std::string> matches;
    std::vector<std::string> matches_in_place;
    for (const std::string& name : adapter_ttys(sysfs_root)) {
        const std::optional<AdapterIdentity> seen = adapter_identity(sysfs_root, name);
        if (!seen || !same_adapter(adapter, *seen))
            continue;
        matches.push_back(name);
        if (same_place(adapter, *seen))
            matches_in_place.push_back(name);
    }
    if (matches.size() == 1)
        return matches.front();
    // Cheap chips may share one serial number; then only the one in the same USB port is surely ours.
    if (matches_in_place.size() == 1)
        return matches_in_place.front();
    return {};
}
