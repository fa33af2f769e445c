// The display thread's pacing and open handshake, the pointer hand-over and the
// frame copy, shared by the real windows.
#include "display/display_thread.h"

#include <algorithm>
#include <system_error>

#include "core/clock.h"
#include "core/program_life.h"
#include "screen/window.h"

namespace {
std::atomic<DisplayPassObserver> pass_observer{nullptr};
}  // namespace

void set_display_pass_observer(DisplayPassObserver observer) { pass_observer.store(observer); }

DisplayPassObserver display_pass_observer() { return pass_observer.load(std::memory_order_relaxed); }

void PointerHandover::request(int32_t x, int32_t y, int32_t visible)
{
    std::lock_guard lock(mutex_);
    if (x >= 0) {
        request_.warp = true;
        const PointerPixel pixel = pointer_pixel(x, y);
        request_.x = pixel.x;
        request_.y = pixel.y;
    }
    if (visible >= 0)
        request_.visibility = visible == 0 ? 0 : 1;
}

PointerRequest PointerHandover::take()
{
    std::lock_guard lock(mutex_);
    const PointerRequest request = request_;
    request_ = PointerRequest{};
    return request;
}

void DisplayFrame::reset()
{
    std::fill(pixels_.begin(), pixels_.end(), uint8_t{0});
    taken_rows_.fill(false);
    full_redraw_ = true;
}

bool DisplayFrame::take(Screen& screen)
{
    const bool palette_changed = screen.take_palette_changed();
    if (palette_changed)
        full_redraw_ = true;
    Screen::RowMarks marks{};
    screen.take_changed_row_marks(marks);
    const uint8_t* frame = screen.frame();
    if (full_redraw_) {
        std::copy(frame, frame + pixels_.size(), pixels_.begin());
        return palette_changed;
    }
    for (int32_t y = 0; y < screen_height; ++y) {
        if (!marks[y])
            continue;
        const size_t row = static_cast<size_t>(y) * screen_width;
        std::copy(frame + row, frame + row + screen_width, pixels_.begin() + static_cast<ptrdiff_t>(row));
        taken_rows_[y] = true;
    }
    return palette_changed;
}

bool DisplayFrame::anything_to_show() const
{
    return full_redraw_ || std::find(taken_rows_.begin(), taken_rows_.end(), true) != taken_rows_.end();
}

void DisplayFrame::whole_frame_shown()
{
    full_redraw_ = false;
    taken_rows_.fill(false);
}

void DisplayFrame::show_taken_rows(const std::function<void(int32_t first_y, int32_t last_y)>& show)
{
    int32_t y = 0;
    while (y < screen_height) {
        if (!taken_rows_[y]) {
            ++y;
            continue;
        }
        const int32_t first_y = y;
        while (y < screen_height && taken_rows_[y])
            taken_rows_[y++] = false;
        show(first_y, y - 1);
    }
}

bool DisplayThread::start(Screen& screen, const std::string& title, std::string& error)
{
    std::lock_guard start_guard(start_mutex_);
    if (thread_.joinable() || screen_ != nullptr) {
        error = "the window is already open";
        return false;
    }
    screen_ = &screen;
    stop_ = false;
    finished_ = false;
    parked_ = false;
    open_reported_ = false;  // a result from an earlier opening must not answer this one
    try {
        thread_ = std::thread([this, title] { run(title); });
    } catch (const std::system_error& failure) {
        error = std::string("cannot start the display thread: ") + failure.what();
        screen_ = nullptr;
        return false;
    }
    // Changes made from here on wake the thread once its window is there.
    screen.set_change_listener([this] { owe_pass(); });

    std::unique_lock lock(open_mutex_);
    open_done_.wait(lock, [this] { return open_reported_; });
    if (open_succeeded_)
        return true;
    error = open_error_;
    lock.unlock();
    screen.set_change_listener(nullptr);
    thread_.join();  // the thread has cleaned up and ends by itself
    screen_ = nullptr;
    return false;
}

void DisplayThread::stop()
{
    std::lock_guard start_guard(start_mutex_);
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // An exit on the display thread (a library's fatal path): the window
        // is left to the process's end, never torn down or joined from here.
        accept_wakes(false);
        thread_.detach();
        return;
    }
    screen_->set_change_listener(nullptr);
    bool parked = false;
    {
        std::unique_lock stop_guard(stop_mutex_);
        stop_ = true;
        stop_requested_.notify_all();
        wake_backend();
        stop_requested_.wait(stop_guard, [this] { return finished_ || parked_; });
        parked = parked_;
    }
    if (parked)
        thread_.detach();  // it never returns; the process's end takes it
    else
        thread_.join();
    screen_ = nullptr;
}

void DisplayThread::park_after_display_lost()
{
    // The backend's wake may reach the lost display too: no more of them.
    accept_wakes(false);
    request_program_end();
    {
        // Notified under the lock: stop() may let the thread go, and its owner
        // end, as soon as it sees the mark.
        std::lock_guard stop_guard(stop_mutex_);
        parked_ = true;
        stop_requested_.notify_all();
    }
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

void DisplayThread::run(const std::string& title)
{
    std::string error;
    const bool opened = backend_.create_window(title, error);
    if (!opened)
        backend_.destroy_window();
    if (opened)
        accept_wakes(true);
    report_open_result(opened, error);
    if (!opened)
        return;

    // A pass runs when something is owed or a window event came, at most one
    // per 10 ms from the start of the previous one (at once when that was
    // longer ago), and at least one per 250 ms.
    const auto period = std::chrono::milliseconds(display_period_ms);
    const auto idle_period = std::chrono::milliseconds(display_idle_pass_ms);
    while (!stop_.load()) {
        const auto began = std::chrono::steady_clock::now();
        // Cleared before the pass takes anything: what is owed later either
        // is taken by this pass or leaves the flag set for the next.
        pass_owed_ = false;
        pass();
        wait_for_work_until(began + idle_period);
        pause_until(began + period);
    }
    accept_wakes(false);
    backend_.destroy_window();
    std::lock_guard stop_guard(stop_mutex_);
    finished_ = true;
    stop_requested_.notify_all();
}

void DisplayThread::report_open_result(bool opened, const std::string& error)
{
    std::lock_guard lock(open_mutex_);
    open_reported_ = true;
    open_succeeded_ = opened;
    open_error_ = error;
    open_done_.notify_all();
}

// Only the frame copy runs under the screen lock; converting it, handing it to
// the window and reading events run without, so the program thread is held up
// for a memory copy rather than a whole pass.
void DisplayThread::pass()
{
    const DisplayPassObserver observer = display_pass_observer();
    SystemClock observer_clock;
    DisplayPassTimes times{};
    if (observer != nullptr)
        times.began_s = observer_clock.seconds();
    {
        DisplayLock lock(screen_->lock());
        if (observer != nullptr)
            times.locked_s = observer_clock.seconds();
        backend_.take_frame();
        if (observer != nullptr)
            times.released_s = observer_clock.seconds();
    }
    // queue_key takes the screen lock itself; repaints show the display's copy.
    backend_.show_frame();
    if (observer != nullptr) {
        times.shown_s = observer_clock.seconds();
        observer(times);
    }
}

void DisplayThread::owe_pass()
{
    if (!pass_owed_.exchange(true))
        wake_backend();
}

// A wake that comes after the flag was looked at finds the backend waiting,
// or makes its next wait return at once.
void DisplayThread::wait_for_work_until(std::chrono::steady_clock::time_point until)
{
    if (pass_owed_.load() || stop_.load())
        return;
    backend_.wait_for_work_until(until);
}

void DisplayThread::wake_backend()
{
    {
        std::lock_guard wake_guard(wake_mutex_);
        if (!wakes_accepted_)
            return;
        ++wakes_under_way_;
    }
    backend_.wake_for_work();
    {
        std::lock_guard wake_guard(wake_mutex_);
        --wakes_under_way_;
    }
    wakes_left_.notify_all();
}

// Refusing wakes waits for those under way: the window they reach must still exist.
void DisplayThread::accept_wakes(bool accepted)
{
    std::unique_lock wake_guard(wake_mutex_);
    wakes_accepted_ = accepted;
    if (!accepted)
        wakes_left_.wait(wake_guard, [this] { return wakes_under_way_ == 0; });
}

// Cut short by stop(): a program that ends does not wait for the rest of the
// period before the window goes.
void DisplayThread::pause_until(std::chrono::steady_clock::time_point due)
{
    std::unique_lock lock(stop_mutex_);
    stop_requested_.wait_until(lock, due, [this] { return stop_.load(); });
}
