/* Preloaded into the logger by a process test: an open that may create a file
   named DATAnnn.CSV first waits LOGGER_TEST_CREATE_DELAY_MS, so that two
   loggers started together both look at a number before either creates it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int delayed_open(const char* call, const char* path, int flags, mode_t mode)
{
    const char* base = strrchr(path, '/') != NULL ? strrchr(path, '/') + 1 : path;
    const char* delay = getenv("LOGGER_TEST_CREATE_DELAY_MS");
    if (delay != NULL && (flags & O_CREAT) && strncmp(base, "DATA", 4) == 0 && strlen(base) == 11) {
        const struct timespec pause = {atol(delay) / 1000, atol(delay) % 1000 * 1000000L};
        nanosleep(&pause, NULL);
    }
    int (*real_open)(const char*, int, ...);
    *(void**)&real_open = dlsym(RTLD_NEXT, call); /* the way POSIX names for a function from dlsym */
    return real_open(path, flags, mode);
}

int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return delayed_open("open", path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return delayed_open("open64", path, flags, mode);
}
