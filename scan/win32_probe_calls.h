// The Win32 calls of the port probe behind one replaceable interface, so that
// a test can show what Wine cannot: a port held by another program, and the
// open arguments and handles of every probe. Handles are the HANDLE values
// (void*), codes the DWORD values, so no Windows header is needed here.
#pragma once
#include <cstdint>

class Win32ProbeCalls {
public:
    virtual ~Win32ProbeCalls() = default;
    virtual void set_last_error(uint32_t code);
    virtual void* create_file(const char* name, uint32_t desired_access, uint32_t share_mode, void* security_attributes,
                              uint32_t creation_disposition, uint32_t flags_and_attributes, void* template_file);
    virtual uint32_t get_last_error();
    virtual bool close_handle(void* handle);
};

// The calls the probe uses; a test installs its own, nullptr restores the system's.
Win32ProbeCalls& win32_probe_calls();
void use_win32_probe_calls(Win32ProbeCalls* calls);
