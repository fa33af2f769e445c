// Finding a USB serial adapter again in a sysfs tree laid out in a temporary
// folder as the kernel lays it out: tty link, port, interface, USB device.
#include "io/sysfs_adapters.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "io_test_support.h"

namespace {

namespace fs = std::filesystem;

struct Plugged {
    const char* tty;
    AdapterIdentity adapter;  // no vendor: a built-in port
};

// Lays out class/tty/<tty>/device leading to the port under the adapter's USB device.
void plug(const fs::path& root, const Plugged& p)
{
    const AdapterIdentity& a = p.adapter;
    fs::path device = root / "devices" / "platform" / "serial8250";
    if (!a.vendor_id.empty()) {
        device = root / "devices" / "pci0000:00" / ("usb" + a.bus_number) / (a.bus_number + "-" + a.usb_port_path);
        fs::create_directories(device);
        for (const auto& [name, value] : {std::pair{"idVendor", a.vendor_id},
                                          {"idProduct", a.product_id},
                                          {"serial", a.serial_number},
                                          {"busnum", a.bus_number},
                                          {"devpath", a.usb_port_path}})
            if (!value.empty())
                std::ofstream(device / name) << value << "\n";
        device /= a.bus_number + "-" + a.usb_port_path + ":1.0";
    }
    fs::create_directories(device / p.tty);
    fs::create_directories(root / "class" / "tty" / p.tty);
    fs::create_symlink(device / p.tty, root / "class" / "tty" / p.tty / "device");
}

const AdapterIdentity ours{"0403", "6001", "A10KX7", "1", "2"};
const AdapterIdentity ours_moved{"0403", "6001", "A10KX7", "3", "1.4"};
const AdapterIdentity other_serial{"0403", "6001", "B77Q", "1", "2"};
const AdapterIdentity no_serial{"1a86", "7523", "", "1", "2"};
const AdapterIdentity no_serial_elsewhere{"1a86", "7523", "", "1", "3"};

TEST(SysfsAdapters, adapter_is_found_again_only_under_its_own_identity)
{
    struct Case {
        const char* what;
        AdapterIdentity recorded;
        std::vector<Plugged> plugged;
        const char* expected;
    } cases[] = {
        {"still where it was", ours, {{"ttyUSB1", ours_moved}, {"ttyUSB0", ours}}, "ttyUSB0"},
        {"back under a new name, in another USB port", ours, {{"ttyUSB1", ours_moved}}, "ttyUSB1"},
        {"another serial number is refused; a built-in port has none",
         ours,
         {{"ttyUSB0", other_serial}, {"ttyACM0", {}}},
         ""},
        {"without a serial number: the same bus and port",
         no_serial,
         {{"ttyUSB0", no_serial_elsewhere}, {"ttyUSB1", no_serial}},
         "ttyUSB1"},
        {"without a serial number, in another port", no_serial, {{"ttyUSB0", no_serial_elsewhere}}, ""},
        {"two with one serial number: the one in our port",
         ours,
         {{"ttyACM0", ours_moved}, {"ttyUSB3", ours}},
         "ttyUSB3"},
    };
    for (const Case& c : cases) {
        ScopedTempFolder sysfs{"io_test"};
        for (const Plugged& p : c.plugged)
            plug(sysfs.path, p);
        EXPECT_EQ(find_adapter_tty(sysfs.path.string(), "ttyUSB0", c.recorded), c.expected) << c.what;
    }
}

}  // namespace
