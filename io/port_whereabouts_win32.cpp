// Whereabouts on Windows: the COM name is all there is; the port is found
// again by opening that name once more.
#include "io/port_whereabouts.h"

PortWhereabouts port_whereabouts(uint32_t port_number, const std::string& device_path)
{
    return {port_number, device_path, {}, std::nullopt};
}

std::string find_port_again(const PortWhereabouts& last) { return last.device_path; }
