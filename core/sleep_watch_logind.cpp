// The sleep watch on Linux: a thread on the system bus holds a delay lock of
// logind's against sleep, and on logind's PrepareForSleep signal lets the
// program make the run's data safe before it lets the lock go.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/clock.h"
#include "core/sleep_watch.h"

namespace {

constexpr char login_service[] = "org.freedesktop.login1";
constexpr char login_path[] = "/org/freedesktop/login1";
constexpr char login_manager[] = "org.freedesktop.login1.Manager";
constexpr char lock_holder[] = "Serial Data Logger";
constexpr char lock_reason[] = "Saving the chart";
// logind waits at most 5 s for a delay lock (its InhibitDelayMaxSec): the
// program gets most of it, and the lock still goes back in time.
constexpr int64_t sleep_wait_ms = 4000;

struct Watch {
    sd_bus* bus = nullptr;
    int lock_fd = -1;  // the delay lock: held while this descriptor is open
    bool refusal_told = false;
};

std::thread watch_thread;
int stop_fd = -1;  // an eventfd: written once to end the watch

// Errors that mean there is simply no logind on this bus (a container, a test's
// private bus): nothing to say about them.
bool no_login_service(const sd_bus_error& error)
{
    for (const char* name : {SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER, SD_BUS_ERROR_UNKNOWN_OBJECT,
                             SD_BUS_ERROR_UNKNOWN_METHOD}) {
        if (sd_bus_error_has_name(&error, name))
            return true;
    }
    return false;
}

void take_lock(Watch& watch)
{
    if (watch.lock_fd >= 0)
        return;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int result = sd_bus_call_method(watch.bus, login_service, login_path, login_manager, "Inhibit", &error, &reply,
                                    "ssss", "sleep", lock_holder, lock_reason, "delay");
    int fd = -1;
    if (result >= 0)
        result = sd_bus_message_read(reply, "h", &fd);
    // The reply owns its descriptor: the lock is a copy kept until the sleep.
    if (result >= 0 && (watch.lock_fd = fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0)
        result = -errno;
    if (result < 0 && !no_login_service(error) && !watch.refusal_told) {
        watch.refusal_told = true;
        std::fprintf(stderr, "logger: no delay before the computer sleeps (%s): a sleep will not wait for the chart\n",
                     sd_bus_error_is_set(&error) ? error.message : std::strerror(-result));
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
}

void release_lock(Watch& watch)
{
    if (watch.lock_fd >= 0)
        close(watch.lock_fd);
    watch.lock_fd = -1;
}

int on_prepare_for_sleep(sd_bus_message* message, void* watch_data, sd_bus_error*)
{
    Watch& watch = *static_cast<Watch*>(watch_data);
    int going_to_sleep = 0;
    if (sd_bus_message_read(message, "b", &going_to_sleep) < 0)
        return 0;
    if (going_to_sleep != 0) {
        pass_on_sleep(sleep_wait_ms);
        release_lock(watch);
    } else {
        pass_on_resume();
        take_lock(watch);
    }
    return 0;
}

// The poll timeout for the bus's next deadline, an absolute CLOCK_MONOTONIC
// time in microseconds (none while no call of its own is pending).
int bus_timeout_ms(sd_bus* bus)
{
    uint64_t deadline_us = UINT64_MAX;
    if (sd_bus_get_timeout(bus, &deadline_us) < 0 || deadline_us == UINT64_MAX)
        return -1;
    const double left_ms = static_cast<double>(deadline_us) / 1e3 - SystemClock().awake_seconds() * 1e3;
    return static_cast<int>(std::clamp(std::ceil(left_ms), 0.0, 60000.0));
}

// Sleeps in the bus until a message comes or stop_fd is written; false when
// the watch is to end.
bool wait_for_bus(sd_bus* bus, int stop)
{
    const int bus_events = sd_bus_get_events(bus);
    if (bus_events < 0)
        return false;
    pollfd watched[2] = {{sd_bus_get_fd(bus), static_cast<short>(bus_events), 0}, {stop, POLLIN, 0}};
    if (poll(watched, 2, bus_timeout_ms(bus)) < 0 && errno != EINTR) {
        std::perror("logger: poll on the system bus");
        return false;
    }
    return watched[1].revents == 0;
}

void watch_logind(int stop)
{
    Watch watch;
    // No system bus at all (a container, a minimal system): no sleep notices.
    if (sd_bus_open_system(&watch.bus) < 0)
        return;
    sd_bus_slot* match = nullptr;
    if (sd_bus_match_signal(watch.bus, &match, login_service, login_path, login_manager, "PrepareForSleep",
                            on_prepare_for_sleep, &watch) >= 0) {
        take_lock(watch);
        for (;;) {
            int processed = 0;
            while ((processed = sd_bus_process(watch.bus, nullptr)) > 0) {
            }
            // A bus that went away brings no more notices.
            if (processed < 0 || !wait_for_bus(watch.bus, stop))
                break;
        }
    }
    release_lock(watch);
    sd_bus_slot_unref(match);
    sd_bus_flush_close_unref(watch.bus);
}

}  // namespace

void start_sleep_watch()
{
    if (watch_thread.joinable())
        return;
    stop_fd = eventfd(0, EFD_CLOEXEC);
    if (stop_fd < 0) {
        std::perror("logger: eventfd for the sleep watch");
        return;
    }
    watch_thread = std::thread(watch_logind, stop_fd);
}

void stop_sleep_watch()
{
    if (!watch_thread.joinable())
        return;
    const uint64_t one = 1;
    if (write(stop_fd, &one, sizeof one) < 0)
        std::perror("logger: waking the sleep watch");
    watch_thread.join();
    close(stop_fd);
    stop_fd = -1;
}
