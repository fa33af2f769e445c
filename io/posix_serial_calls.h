// The system calls of the Linux serial port behind one replaceable interface,
// so that a test can stand in for the kernel: interrupted calls, short writes,
// hang-ups and time-outs without real devices or real waiting.
#pragma once
#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>

// Each call returns what the system call returns, except that a failure gives
// -errno instead of -1, so no caller has to read errno.
class PosixSerialCalls {
public:
    virtual ~PosixSerialCalls() = default;
    virtual int open_path(const char* path, int flags);
    virtual int close_fd(int fd);
    virtual ssize_t read_bytes(int fd, void* buffer, size_t count);
    virtual ssize_t write_bytes(int fd, const void* bytes, size_t count);
    virtual int poll_fd(pollfd* fd_entry, int timeout_ms);
    virtual bool is_terminal(int fd);
    virtual int lock_exclusive(int fd);  // flock, exclusive, without waiting
    virtual int unlock(int fd);
    virtual int set_exclusive(int fd);  // no further opens of the tty (except by root)
    virtual int clear_exclusive(int fd);
    virtual int get_attributes(int fd, termios* settings);
    virtual int set_attributes(int fd, const termios* settings);
    virtual int get_modem_lines(int fd, int* lines);
    virtual int set_modem_lines(int fd, int lines);    // turns the given lines on
    virtual int clear_modem_lines(int fd, int lines);  // turns the given lines off
    virtual int bytes_queued(int fd, int* count);      // received bytes not yet read
};

// The calls the serial ports use; a test installs its own, nullptr restores the system's.
PosixSerialCalls& posix_serial_calls();
void use_posix_serial_calls(PosixSerialCalls* calls);
