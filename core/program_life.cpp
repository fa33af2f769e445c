// The closing handshake between the program's thread and a thread that asked
// it to end.
#include "core/program_life.h"

#include <algorithm>
#include <chrono>

void ClosingHandshake::note_done()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        done_ = true;
    }
    done_cv_.notify_all();
}

bool ClosingHandshake::wait_until_done(int64_t timeout_ms)
{
    std::unique_lock<std::mutex> guard(mutex_);
    return done_cv_.wait_for(guard, std::chrono::milliseconds(std::max<int64_t>(timeout_ms, 0)),
                             [this] { return done_; });
}

ClosingHandshake& program_closing()
{
    static ClosingHandshake handshake;
    return handshake;
}

void note_program_closed() { program_closing().note_done(); }
