// Which device file a COM port number means on this machine. Shared by the
// logger's serial device and by the port scanner, so both agree on every number.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

constexpr uint32_t highest_com_port = 255;

// The device for COM port n (1 to 255): the entry "COM<n>" of the folder named
// by the environment variable LOGGER_PORTS when it is set and not empty,
// otherwise the fixed table of default_com_port_path. Empty for 0 or above 255.
std::string com_port_path(uint32_t port_number);

// "<ports_dir>/COM<n>"; empty for 0 or above 255.
std::string com_port_path_in(std::string_view ports_dir, uint32_t port_number);

// The fixed table used without LOGGER_PORTS (documented in the README):
// COM1-4 /dev/ttyS0-3, COM5-8 /dev/ttyUSB0-3, COM9-10 /dev/ttyACM0-1,
// COM11-20 /dev/ttyUSB4-13, COM21-30 /dev/ttyACM2-11, COM31-255 /dev/ttyS4-228.
std::string default_com_port_path(uint32_t port_number);
