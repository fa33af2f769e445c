// Where a serial port was opened and which USB adapter was behind it, so that a
// port that went away (a pulled cable, an adapter re-enumerated after a sleep)
// can be found again without opening any other device.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

// What a USB adapter says of itself, and where it is plugged in.
struct AdapterIdentity {
    std::string vendor_id;      // idVendor, e.g. "0403"
    std::string product_id;     // idProduct
    std::string serial_number;  // empty where the chip has none
    std::string bus_number;     // busnum
    std::string usb_port_path;  // devpath: the chain of hub ports, e.g. "1.2"
};

struct PortWhereabouts {
    uint32_t port_number = 0;
    std::string device_path;                 // the device that was opened
    std::string tty_name;                    // Linux: e.g. "ttyUSB0"; empty when it is no tty of /dev
    std::optional<AdapterIdentity> adapter;  // none: a pseudo-terminal, a built-in port, any port on Windows
};

// Where the platform opens a port: the device a reopen found for it, or (empty)
// the COM number's own. A reopen tried again and again while the adapter comes
// back writes its failure to standard error only when told to.
struct PortPlace {
    std::string device_path;
    bool report_failure = true;
};

// The whereabouts of COM port port_number, opened at device_path.
PortWhereabouts port_whereabouts(uint32_t port_number, const std::string& device_path);

// The device to open to reach the port again; empty while it is not there.
// Only looks: opening a port raises DTR, which resets some boards, so no other
// adapter is ever opened to find out whether it is the one.
std::string find_port_again(const PortWhereabouts& last);
