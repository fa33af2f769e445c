// Notices that the computer is about to sleep and that it woke, from whichever
// service of the system tells (logind on Linux, power messages on Windows),
// handed to the program's thread, which makes a run's data safe first.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// What was announced since the program's thread last looked.
struct SleepNews {
    bool sleep_coming = false;
    bool resumed = false;
};

class SleepNotices {
public:
    // The program's thread listens while a run samples; wake_program ends its
    // current wait. Without a listener an announced sleep goes ahead at once.
    void listen(std::function<void()> wake_program);
    void stop_listening();

    // A service's thread: the computer is about to sleep. Wakes the program's
    // thread and waits at most wait_ms for it to call sleep_prepared; true when
    // it did (or nobody listens).
    bool announce_sleep(int64_t wait_ms);
    // A service's thread: the computer woke.
    void announce_resume();

    // The program's thread: takes what was announced since the last look.
    SleepNews take_news();
    // The program's thread: the run's data is safe; the sleep may go ahead.
    void sleep_prepared();

private:
    std::mutex mutex_;
    std::condition_variable prepared_cv_;
    std::function<void()> wake_program_;
    bool listening_ = false;
    bool prepared_ = true;
    SleepNews news_;
};

// The program's one set of notices.
SleepNotices& program_sleep_notices();
