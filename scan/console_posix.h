// The Linux pieces behind scan/console.h, open to tests: the key check on any
// descriptor and the single-key mode of a terminal.
#pragma once
#include <termios.h>

// Looks once at fd: true when a byte was there (it and any bytes right behind
// it, such as the rest of an arrow key's sequence, are consumed), at end of
// input, or when fd cannot be read at all.
bool key_arrived(int fd);

// While it lives, a terminal on fd gives each key at once without echoing it;
// the previous settings come back when it ends. Does nothing when fd is no terminal.
class SingleKeyMode {
public:
    explicit SingleKeyMode(int fd);
    ~SingleKeyMode();
    SingleKeyMode(const SingleKeyMode&) = delete;
    SingleKeyMode& operator=(const SingleKeyMode&) = delete;

    bool active() const { return active_; }
    const termios& saved_settings() const { return saved_; }

private:
    int fd_;
    bool active_ = false;
    termios saved_{};
};
