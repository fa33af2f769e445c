// SIGINT, SIGTERM and SIGHUP, blocked in every thread and taken by one thread
// of their own with sigwait: the program reacts in ordinary code, not in a
// signal handler.
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <thread>

#include "core/end_signals.h"

namespace {

sigset_t end_signal_set()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

void take_end_signals(sigset_t signals, const std::function<void()>& request_end)
{
    bool requested = false;
    for (;;) {
        int signal_number = 0;
        if (sigwait(&signals, &signal_number) != 0)
            continue;
        if (requested)
            std::_Exit(128 + signal_number);
        requested = true;
        request_end();
    }
}

}  // namespace

void watch_end_signals(std::function<void()> request_end)
{
    // Threads started later (the window's, the audio's) inherit the mask, so
    // only the watching thread ever sees these signals.
    const sigset_t signals = end_signal_set();
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0)
        return;
    std::thread(take_end_signals, signals, std::move(request_end)).detach();
}
