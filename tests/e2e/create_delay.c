/* Preloaded by a process test: an open that may create DATAnnn.CSV waits LOGGER_TEST_CREATE_DELAY_S first. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    if ((flags & O_CREAT) && strstr(path, "DATA") != NULL && getenv("LOGGER_TEST_CREATE_DELAY_S") != NULL)
        sleep((unsigned)atoi(getenv("LOGGER_TEST_CREATE_DELAY_S")));
    int (*real_open)(const char*, int, ...);
    *(void**)&real_open = dlsym(RTLD_NEXT, "open"); /* the way POSIX names for a function from dlsym */
    return real_open(path, flags, mode);
}
