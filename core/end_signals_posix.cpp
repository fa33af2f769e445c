// SIGINT, SIGTERM and SIGHUP, blocked in every thread and taken by one thread
// of their own with sigwait: the program reacts in ordinary code, not in a
// signal handler.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/end_signals.h"

namespace {

// The watching thread, and the flag that tells it that a signal sent to it
// by stop_watching_end_signals means "stop".
std::thread watcher;
std::atomic<bool> stopping{false};
int stop_signal = 0;

// The end signals the program takes. One ignored when the program starts
// (nohup ignores SIGHUP) is left out: it stays ignored rather than blocked
// and taken.
sigset_t end_signal_set()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaddset(&signals, signal_number);
    }
    return signals;
}

// Ends the process as the signal's default action does, so that whoever
// started it sees which signal ended it.
[[noreturn]] void end_by_signal(int signal_number)
{
    signal(signal_number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    raise(signal_number);  // pending while blocked: delivered as the mask opens
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    std::_Exit(128 + signal_number);
}

void take_end_signals(sigset_t signals, const std::function<void()>& request_end)
{
    bool requested = false;
    for (;;) {
        int signal_number = 0;
        if (sigwait(&signals, &signal_number) != 0)
            continue;
        if (stopping.load())
            return;
        if (!requested) {
            requested = true;
            request_end();
        } else if (signal_number == SIGINT) {  // a second Ctrl+C
            end_by_signal(signal_number);
        }
        // A SIGTERM or SIGHUP after the first request changes nothing: a
        // session's end sends both, and the closing stage is already on its way.
    }
}

}  // namespace

void watch_end_signals(std::function<void()> request_end)
{
    // A reader of standard output or error that went away (a pipe into tee
    // when the SSH session ends) must not end the program before its picture
    // is saved: the write fails with EPIPE instead.
    signal(SIGPIPE, SIG_IGN);
    // Threads started later (the window's, the audio's) inherit the mask, so
    // only the watching thread ever sees these signals.
    const sigset_t signals = end_signal_set();
    if (sigisemptyset(&signals) != 0)
        return;
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0)
        return;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        if (sigismember(&signals, signal_number) == 1)
            stop_signal = signal_number;
    stopping = false;
    watcher = std::thread(take_end_signals, signals, std::move(request_end));
}

void stop_watching_end_signals()
{
    if (!watcher.joinable())
        return;
    stopping = true;
    const int error = pthread_kill(watcher.native_handle(), stop_signal);
    if (error != 0) {
        std::fprintf(stderr, "logger: cannot stop the end signals' thread: %s\n", std::strerror(error));
        watcher.detach();
        return;
    }
    watcher.join();
}
