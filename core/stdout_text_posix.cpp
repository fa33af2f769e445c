// Standard output on POSIX systems: write(2) on a thread that takes no SIGPIPE.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "core/stdout_text.h"

namespace {

// SIGPIPE goes to the thread that wrote: blocked there, a pipe whose reader is
// gone gives EPIPE instead of ending the program before its picture is saved.
bool block_broken_pipe_signal()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    return pthread_sigmask(SIG_BLOCK, &signals, nullptr) == 0;
}

}  // namespace

bool write_stdout_text(std::string_view text)
{
    thread_local const bool blocked = block_broken_pipe_signal();
    if (!blocked)
        return false;
    while (!text.empty()) {
        const ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}
