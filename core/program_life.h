// The life of the program as other threads see it: an end asked for from
// outside, a wake of the program's thread, and the closing handshake by which
// the program's thread says its closing stage is over (picture saved, files
// closed), so that a thread that asked for the end may wait for that before the
// process goes.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "core/clock.h"

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

// What any thread may tell the program's thread. The one wake signal ends the
// program thread's current wait for a key (a key arriving raises it too).
class ProgramLife {
public:
    // Any thread: the program is to end as if ESC were pressed at its next look
    // at the keys; every wait ends early.
    void request_end();
    bool end_requested() const { return end_requested_.load(); }
    // Any thread: ends the program thread's current wait for a key early, with
    // no key and no end; when it waits for none, its next wait returns at once.
    void wake();
    // The program's thread: true once per wake asked for.
    bool take_wake_request() { return wake_requested_.exchange(false); }
    // Raised by every key, end request and wake; a wait that finds none of
    // them behind it (a key already taken) waits on.
    WakeSignal& wake_signal() { return wake_; }
    ClosingHandshake& closing() { return closing_; }

private:
    std::atomic<bool> end_requested_{false};
    std::atomic<bool> wake_requested_{false};
    WakeSignal wake_;
    ClosingHandshake closing_;
};

// The program's own life; tests install theirs (nullptr restores the program's).
ProgramLife& program_life();
void use_program_life(ProgramLife* life);

void request_program_end();
bool program_end_requested();
void wake_program_thread();
ClosingHandshake& program_closing();
// The program's thread: the closing stage is over.
void note_program_closed();
