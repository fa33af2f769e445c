// The display thread of a real window, without the window: the thread with its
// open handshake and its passes (at most one per 10 ms, only when something is
// owed or a window event came, else one per 250 ms), the priority screen lock, the pointer
// requests handed over from the program thread, and the display's frame copy.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "screen/screen.h"

// A measuring aid: a display thread calls the observer after each pass, with
// the monotonic seconds at which the pass began to wait for the screen lock,
// took it, released it, and had its frame on show. No observer (the default)
// costs one load per pass.
struct DisplayPassTimes {
    double began_s;
    double locked_s;
    double released_s;
    double shown_s;
};
using DisplayPassObserver = void (*)(const DisplayPassTimes& times);
void set_display_pass_observer(DisplayPassObserver observer);
DisplayPassObserver display_pass_observer();

constexpr int32_t display_period_ms = 10;
// A pass runs at least this often even when nothing asked for one, so that a
// wake that went astray leaves the window stale for no longer.
constexpr int32_t display_idle_pass_ms = 250;

// Takes the screen lock ahead of a program thread that relocks in a loop.
class DisplayLock {
public:
    explicit DisplayLock(ScreenLock& lock) : lock_(lock) { lock_.lock_with_priority(); }
    ~DisplayLock() { lock_.unlock(); }
    DisplayLock(const DisplayLock&) = delete;
    DisplayLock& operator=(const DisplayLock&) = delete;

private:
    ScreenLock& lock_;
};

// Pointer requests the program thread leaves for the display thread.
struct PointerRequest {
    bool warp = false;
    int32_t x = 0;
    int32_t y = 0;
    int32_t visibility = -1;  // negative: leave as it is
};

class PointerHandover {
public:
    // Program thread: x >= 0 places the pointer on (x, y), kept inside the
    // frame; visible >= 0 shows (non-zero) or hides it. Later requests replace
    // earlier ones not yet taken.
    void request(int32_t x, int32_t y, int32_t visible);
    // Display thread: what was asked since the last take, clearing it.
    PointerRequest take();

private:
    std::mutex mutex_;
    PointerRequest request_;
};

// The display's own copy of the frame, taken under the screen lock so that
// converting and showing it run without.
class DisplayFrame {
public:
    // All pixels 0, no rows taken, a full redraw owed: a new window.
    void reset();
    // Under the screen lock: the rows drawn on since the last take, or the whole
    // frame when a full redraw is owed or the palette changed. True when the
    // palette changed (the caller converts it while still holding the lock).
    bool take(Screen& screen);
    const uint8_t* pixels() const { return pixels_.data(); }

    bool full_redraw_owed() const { return full_redraw_; }
    void owe_full_redraw() { full_redraw_ = true; }
    // Rows taken and not yet shown, or a full redraw owed.
    bool anything_to_show() const;
    // The whole frame is on show: nothing is owed any more.
    void whole_frame_shown();
    // Hands each run of rows taken since they were last shown to
    // show(first_y, last_y), clearing their marks.
    void show_taken_rows(const std::function<void(int32_t first_y, int32_t last_y)>& show);

private:
    std::vector<uint8_t> pixels_ = std::vector<uint8_t>(static_cast<size_t>(screen_width) * screen_height, 0);
    Screen::RowMarks taken_rows_{};
    bool full_redraw_ = true;
};

// What a window does on its display thread.
class DisplayBackend {
public:
    // Creates the window titled `title`; false with the cause in `error`.
    virtual bool create_window(const std::string& title, std::string& error) = 0;
    // Under the screen lock: takes what this pass shows.
    virtual void take_frame() = 0;
    // Without the lock: events or messages, the taken rows onto the window,
    // the pointer and whatever else a pass does.
    virtual void show_frame() = 0;
    // Sleeps until `until`, or less when a window event arrives or
    // wake_for_work() is called; returns at once when one came since the last
    // pass began.
    virtual void wait_for_work_until(std::chrono::steady_clock::time_point until) = 0;
    // Any thread, while the window exists: ends the current or next
    // wait_for_work_until. Called with no lock held.
    virtual void wake_for_work() = 0;
    // Destroys what create_window made, also after it failed half-way.
    virtual void destroy_window() = 0;

protected:
    ~DisplayBackend() = default;
};

class DisplayThread {
public:
    explicit DisplayThread(DisplayBackend& backend) : backend_(backend) {}
    ~DisplayThread() { stop(); }
    DisplayThread(const DisplayThread&) = delete;
    DisplayThread& operator=(const DisplayThread&) = delete;

    // Starts the thread, which creates the window and then runs passes on
    // `screen` as they are owed; returns once the window is there. On failure returns
    // false with the cause in `error` (the thread has ended by then).
    bool start(Screen& screen, const std::string& title, std::string& error);
    // Ends the passes, has the thread destroy the window and joins it; does
    // nothing when no thread runs. A thread parked after its display was lost
    // is let go instead, and a call from the display thread itself never joins.
    void stop();
    // Display thread, from the windowing system's fatal-error path: the
    // display is gone and its library may not be entered again. Asks the
    // program to end like ESC (the closing stage saves the picture from the
    // frame buffer), lets stop() go on without this thread, and never returns.
    [[noreturn]] void park_after_display_lost();
    // Any thread: the window owes a pass (the frame or palette changed, a
    // pointer request or a tone waits). Wakes the display thread only when no
    // pass was owed yet, so a burst costs one wake.
    void owe_pass();
    bool running() const { return thread_.joinable(); }
    // The screen being shown; only while running.
    Screen& screen() { return *screen_; }

private:
    void run(const std::string& title);
    void report_open_result(bool opened, const std::string& error);
    void pass();
    void pause_until(std::chrono::steady_clock::time_point due);
    void wait_for_work_until(std::chrono::steady_clock::time_point until);
    void wake_backend();
    void accept_wakes(bool accepted);

    DisplayBackend& backend_;
    Screen* screen_ = nullptr;
    std::thread thread_;
    std::mutex start_mutex_;  // start and stop one at a time
    std::atomic<bool> stop_{false};
    // Wakes the thread from its pause between passes when stopping, and
    // stop() when the thread has finished or is parked.
    std::mutex stop_mutex_;
    std::condition_variable stop_requested_;
    bool finished_ = false;
    bool parked_ = false;
    // Set by owe_pass, cleared as a pass begins: a pass owed skips the wait.
    std::atomic<bool> pass_owed_{false};
    // Wakes reach the backend only while its window exists; the window is
    // destroyed only once every wake under way has left the backend. No lock
    // is held across the backend's wake.
    std::mutex wake_mutex_;
    std::condition_variable wakes_left_;
    bool wakes_accepted_ = false;
    int32_t wakes_under_way_ = 0;

    // Open handshake between start() and the thread.
    std::mutex open_mutex_;
    std::condition_variable open_done_;
    bool open_reported_ = false;
    bool open_succeeded_ = false;
    std::string open_error_;
};
