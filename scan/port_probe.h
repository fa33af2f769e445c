// The port scanner's parts: probing one COM port, scanning 1 to 255, the
// listing it prints, and the wait for a key.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/clock.h"

enum class PortProbe {
    absent,   // cannot be opened, and nothing says the port exists
    present,  // opens, and was closed again at once
    held,     // exists, but another program has it open (or we may not open it)
};

// The name this platform opens COM port n (1 to 255) by.
std::string port_device_name(uint32_t port);

// Opens the port by its device name without configuring or writing anything,
// and closes it again at once.
PortProbe probe_port(const std::string& device_name);

// The numbers from 1 to 255, probed one after the other in increasing order,
// that probe as present or held.
std::vector<uint32_t> present_ports(const std::function<PortProbe(uint32_t)>& probe);

// present_ports over this machine's real ports.
std::vector<uint32_t> scan_ports();

// "COM<n>" lines, an empty line, then "Sleeping to Exit"; every line ends in CR LF.
std::string port_list_text(const std::vector<uint32_t>& ports);

// Asks key_arrived every 50 ms (first at once) until it says yes.
void wait_for_key(const std::function<bool()>& key_arrived, Clock& clock);
