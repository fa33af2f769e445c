// The hand-over of sleep notices between a service's thread and the program's.
#include "core/sleep_notices.h"

#include <chrono>

void SleepNotices::listen(std::function<void()> wake_program)
{
    std::lock_guard<std::mutex> guard(mutex_);
    wake_program_ = std::move(wake_program);
    listening_ = true;
    news_ = {};
}

void SleepNotices::stop_listening()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        listening_ = false;
        wake_program_ = nullptr;
        prepared_ = true;  // a sleep waiting for this run goes ahead
    }
    prepared_cv_.notify_all();
}

bool SleepNotices::announce_sleep(int64_t wait_ms)
{
    std::function<void()> wake_program;
    std::unique_lock<std::mutex> guard(mutex_);
    if (!listening_)
        return true;
    news_.sleep_coming = true;
    prepared_ = false;
    wake_program = wake_program_;
    guard.unlock();
    // Called without the lock: the wake may take locks of its own.
    if (wake_program)
        wake_program();
    guard.lock();
    return prepared_cv_.wait_for(guard, std::chrono::milliseconds(wait_ms > 0 ? wait_ms : 0),
                                 [this] { return prepared_; });
}

void SleepNotices::announce_resume()
{
    std::function<void()> wake_program;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!listening_)
            return;
        news_.resumed = true;
        wake_program = wake_program_;
    }
    if (wake_program)
        wake_program();
}

SleepNews SleepNotices::take_news()
{
    std::lock_guard<std::mutex> guard(mutex_);
    const SleepNews news = news_;
    news_ = {};
    return news;
}

void SleepNotices::sleep_prepared()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        prepared_ = true;
    }
    prepared_cv_.notify_all();
}

SleepNotices& program_sleep_notices()
{
    static SleepNotices notices;
    return notices;
}
