// The sleep and wake notices as any watcher passes them to the program's thread.
#include <cstdio>

#include "core/sleep_notices.h"
#include "core/sleep_watch.h"

bool pass_on_sleep(int64_t wait_ms)
{
    std::fprintf(stderr, "logger: the computer is about to sleep; saving the chart\n");
    const bool prepared = program_sleep_notices().announce_sleep(wait_ms);
    std::fprintf(stderr, "logger: %s; the computer may sleep\n",
                 prepared ? "the chart is saved" : "the chart was not saved in time");
    return prepared;
}

void pass_on_resume()
{
    std::fprintf(stderr, "logger: the computer woke\n");
    program_sleep_notices().announce_resume();
}
