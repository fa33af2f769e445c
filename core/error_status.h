// The program-wide error status: the code left by the last runtime operation
// that set it. Operations never stop the program; callers read this when they care.
#pragma once
#include <cstdint>

enum : int32_t {
    status_ok = 0,
    status_not_allowed = 1,   // bad channel number, wrong channel state, refused string, no window
    status_cannot_open = 2,   // file or port cannot be opened or created
    status_io_failed = 3,     // read/write failed or moved fewer bytes; push-back store full
    status_query_failed = 8,  // serial port properties or state cannot be queried
};

class ErrorStatus {
public:
    int32_t code() const { return code_; }
    void set(int32_t code) { code_ = code; }

private:
    int32_t code_ = 0;
};

// The instance the program's runtime operations report through.
ErrorStatus& error_status();
// Tests install a fresh instance; nullptr goes back to the program's own.
void use_error_status(ErrorStatus* status);

inline int32_t error_code() { return error_status().code(); }
inline void set_error_code(int32_t code) { error_status().set(code); }
