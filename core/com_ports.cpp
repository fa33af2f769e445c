// COM port numbers to device paths: a folder of links for tests and unusual
// adapters, otherwise a fixed table that gives USB adapters low numbers.
#include "core/com_ports.h"

#include <cstdlib>

namespace {

std::string numbered_device(const char* prefix, uint32_t index) { return std::string(prefix) + std::to_string(index); }

}  // namespace

std::string com_port_path_in(std::string_view ports_dir, uint32_t port_number)
{
    if (port_number == 0 || port_number > highest_com_port)
        return {};
    std::string path(ports_dir);
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path + "COM" + std::to_string(port_number);
}

std::string default_com_port_path(uint32_t port_number)
{
    if (port_number == 0 || port_number > highest_com_port)
        return {};
    if (port_number <= 4)
        return numbered_device("/dev/ttyS", port_number - 1);
    if (port_number <= 8)
        return numbered_device("/dev/ttyUSB", port_number - 5);
    if (port_number <= 10)
        return numbered_device("/dev/ttyACM", port_number - 9);
    if (port_number <= 20)
        return numbered_device("/dev/ttyUSB", port_number - 11 + 4);
    if (port_number <= 30)
        return numbered_device("/dev/ttyACM", port_number - 21 + 2);
    return numbered_device("/dev/ttyS", port_number - 31 + 4);
}

std::string com_port_path(uint32_t port_number)
{
    const char* ports_dir = std::getenv("LOGGER_PORTS");
    if (ports_dir != nullptr && *ports_dir != '\0')
        return com_port_path_in(ports_dir, port_number);
    return default_com_port_path(port_number);
}
