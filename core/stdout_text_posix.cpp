// Standard output on POSIX systems: write(2), whole text or nothing more. A
// reader that went away gives EPIPE: the program ignores SIGPIPE (end_signals.h).
#include <errno.h>
#include <unistd.h>

#include "core/stdout_text.h"

bool write_stdout_text(std::string_view text)
{
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
