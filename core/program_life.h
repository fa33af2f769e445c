// The end of the program's life as other threads see it: the program's thread
// says when its closing stage is over (picture saved, files closed), and a
// thread that asked for the end may wait for that before the process goes.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

class ClosingHandshake {
public:
    void note_done();
    // True once note_done was called, waiting at most timeout_ms for it.
    bool wait_until_done(int64_t timeout_ms);

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
};

// The program's own handshake.
ClosingHandshake& program_closing();
// The program's thread: the closing stage is over.
void note_program_closed();
