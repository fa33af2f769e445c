// The end request, the program thread's wake and the closing handshake between
// the program's thread and a thread that asked it to end.
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

void ProgramLife::request_end()
{
    end_requested_.store(true);
    wake_.raise();
}

void ProgramLife::wake()
{
    wake_requested_.store(true);
    wake_.raise();
}

namespace {

std::atomic<ProgramLife*> installed_life{nullptr};

// Never destroyed: a thread may still ask for the end while the process exits.
ProgramLife& own_life()
{
    static ProgramLife* const life = new ProgramLife;
    return *life;
}

}  // namespace

ProgramLife& program_life()
{
    ProgramLife* installed = installed_life.load();
    return installed != nullptr ? *installed : own_life();
}

void use_program_life(ProgramLife* life) { installed_life.store(life); }

void request_program_end() { program_life().request_end(); }

bool program_end_requested() { return program_life().end_requested(); }

void wake_program_thread() { program_life().wake(); }

ClosingHandshake& program_closing() { return program_life().closing(); }

void note_program_closed() { program_closing().note_done(); }
