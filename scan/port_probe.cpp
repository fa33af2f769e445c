// The platform-free part of the port scanner: the scan order, the listing and
// the timing of the key wait.
#include "scan/port_probe.h"

#include "core/com_ports.h"

namespace {
constexpr int64_t key_check_interval_ms = 50;
}  // namespace

std::vector<uint32_t> present_ports(const std::function<PortProbe(uint32_t)>& probe)
{
    std::vector<uint32_t> ports;
    for (uint32_t port = 1; port <= highest_com_port; ++port) {
        if (probe(port) != PortProbe::absent)
            ports.push_back(port);
    }
    return ports;
}

std::vector<uint32_t> scan_ports()
{
    return present_ports([](uint32_t port) { return probe_port(port_device_name(port)); });
}

std::string port_list_text(const std::vector<uint32_t>& ports)
{
    std::string text;
    for (uint32_t port : ports)
        text += "COM" + std::to_string(port) + "\r\n";
    return text + "\r\nSleeping to Exit\r\n";
}

void wait_for_key(const std::function<bool()>& key_arrived, Clock& clock)
{
    while (!key_arrived())
        clock.sleep_ms(key_check_interval_ms);
}
