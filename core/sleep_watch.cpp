// The sleep and wake notices as any watcher passes them to the program's thread.
#include <cstdio>

#include "core/sleep_notices.h"
#include "core/sleep_watch.h"

bool pass_on_sleep(int64_t wait_ms)
{
    std::fprintf(stderr, "logger: the computer is about to sleep\n");
    const bool prepared = program_sleep_notices().announce_sleep(wait_ms);
    if (prepared)
        std::fprintf(stderr, "logger: the run's data is safe; the computer may sleep\n");
    else
        std::fprintf(stderr, "logger: the run's data was not made safe in %lld ms; the computer sleeps regardless\n",
                     static_cast<long long>(wait_ms));
    return prepared;
}

void pass_on_resume()
{
    std::fprintf(stderr, "logger: the computer woke\n");
    program_sleep_notices().announce_resume();
}
