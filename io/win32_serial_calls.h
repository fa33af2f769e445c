// The Win32 calls of the serial port behind one replaceable interface, so that a
// test can stand in for the system: failing calls, held or lost ports, missing modem lines.
#pragma once

// The structures of the calls, declared here so that no header needs windows.h.
struct _DCB;
struct _COMMTIMEOUTS;
struct _COMMPROP;
struct _COMSTAT;

// One method per system call, with the call's own arguments and result: void*
// for HANDLE, unsigned long for DWORD, int for BOOL. The defaults are the real calls.
class Win32SerialCalls {
public:
    virtual ~Win32SerialCalls() = default;
    virtual void* create_file(const char* name, unsigned long desired_access, unsigned long share_mode,
                              void* security_attributes, unsigned long creation_disposition,
                              unsigned long flags_and_attributes, void* template_file);
    virtual int get_comm_properties(void* handle, _COMMPROP* properties);
    virtual int setup_comm(void* handle, unsigned long input_queue_bytes, unsigned long output_queue_bytes);
    virtual int get_comm_timeouts(void* handle, _COMMTIMEOUTS* timeouts);
    virtual int set_comm_timeouts(void* handle, _COMMTIMEOUTS* timeouts);
    virtual int get_comm_state(void* handle, _DCB* state);
    virtual int set_comm_state(void* handle, _DCB* state);
    virtual int escape_comm_function(void* handle, unsigned long function);
    virtual int get_comm_modem_status(void* handle, unsigned long* modem_status);
    virtual int clear_comm_error(void* handle, unsigned long* errors, _COMSTAT* status);
    virtual int read_file(void* handle, void* buffer, unsigned long count, unsigned long* bytes_read, void* overlapped);
    virtual int write_file(void* handle, const void* bytes, unsigned long count, unsigned long* bytes_written,
                           void* overlapped);
    virtual int close_handle(void* handle);
    // GetLastError: the error of the last call that failed.
    virtual unsigned long last_error();
};

// The calls the serial ports use; a test installs its own, nullptr restores the system's.
Win32SerialCalls& win32_serial_calls();
void use_win32_serial_calls(Win32SerialCalls* calls);
