// USB serial adapters as sysfs describes them: which adapter is behind a tty,
// and which tty a known adapter has now. Files only, so that a test can lay out
// a tree of its own; the Linux side alone uses it.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "io/port_whereabouts.h"

// The adapter behind tty_name (e.g. "ttyUSB0"): from <sysfs_root>/class/tty/<tty_name>/device
// up to the first folder with an idVendor. None for a tty of no USB device.
std::optional<AdapterIdentity> adapter_identity(std::string_view sysfs_root, std::string_view tty_name);

// Same vendor and product, and the same serial number; without a recorded
// serial number, the same bus and USB port instead.
bool same_adapter(const AdapterIdentity& recorded, const AdapterIdentity& seen);

// The tty the recorded adapter has now: last_tty when it still leads to it,
// otherwise the ttyUSB or ttyACM that does. Empty when none does, or when
// several do and none of them sits where the adapter was.
std::string find_adapter_tty(std::string_view sysfs_root, std::string_view last_tty, const AdapterIdentity& adapter);
