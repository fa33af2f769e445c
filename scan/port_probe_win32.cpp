// Probing COM ports on Windows: "\\.\COM<n>" opened exclusively and closed at
// once; a port is present when it opens or when another program holds it.
#include "scan/port_probe.h"
#include "scan/win32_probe_calls.h"

#include <windows.h>

void Win32ProbeCalls::set_last_error(uint32_t code) { SetLastError(code); }

void* Win32ProbeCalls::create_file(const char* name, uint32_t desired_access, uint32_t share_mode,
                                   void* security_attributes, uint32_t creation_disposition,
                                   uint32_t flags_and_attributes, void* template_file)
{
    return CreateFileA(name, desired_access, share_mode, static_cast<SECURITY_ATTRIBUTES*>(security_attributes),
                       creation_disposition, flags_and_attributes, template_file);
}

uint32_t Win32ProbeCalls::get_last_error() { return GetLastError(); }

bool Win32ProbeCalls::close_handle(void* handle) { return CloseHandle(handle) != 0; }

namespace {
Win32ProbeCalls system_calls;
Win32ProbeCalls* current_calls = &system_calls;
}  // namespace

Win32ProbeCalls& win32_probe_calls() { return *current_calls; }

void use_win32_probe_calls(Win32ProbeCalls* calls) { current_calls = calls ? calls : &system_calls; }

// The prefix reaches every number; "COM10" without it names no device.
std::string port_device_name(uint32_t port) { return "\\\\.\\COM" + std::to_string(port); }

// Nothing is configured, read or written. ERROR_ACCESS_DENIED is what an open
// of a port that another program has open gives; every other failure means no port.
PortProbe probe_port(const std::string& device_name)
{
    Win32ProbeCalls& calls = win32_probe_calls();
    calls.set_last_error(0);
    void* handle =
        calls.create_file(device_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        calls.close_handle(handle);
        return PortProbe::present;
    }
    return calls.get_last_error() == ERROR_ACCESS_DENIED ? PortProbe::held : PortProbe::absent;
}
