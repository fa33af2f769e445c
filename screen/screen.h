// The 800x600 palette screen: frame buffer with row change marks, palette,
// text cells with cursor and colours, key queue, and the lock shared with the
// display thread. A test creates its own Screen; the program uses one (graphics.h).
#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/error_status.h"

constexpr int32_t screen_width = 800;
constexpr int32_t screen_height = 600;
constexpr int32_t cell_width = 8;
constexpr int32_t cell_height = 16;
constexpr int32_t text_columns = 100;
constexpr int32_t text_rows = 37;

struct PaletteEntry {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const PaletteEntry&) const = default;
};
using Palette = std::array<PaletteEntry, 256>;

// The standard VGA 256-colour palette, 6-bit levels widened as floor(v * 255 / 63).
Palette default_palette();

// The palette as 32-bit ARGB pixels (alpha 255), one per index.
using ArgbColours = std::array<uint32_t, 256>;
ArgbColours argb_colours(const Palette& palette);

struct CellPosition {
    int32_t row = 1;
    int32_t column = 1;
    bool operator==(const CellPosition&) const = default;
};

struct GridSize {
    int32_t columns = text_columns;
    int32_t rows = text_rows;
};

// Key codes: 1-255 a code page 437 character; low byte 255 an extended key
// with its BIOS extended code in bits 8-15.
constexpr uint32_t extended_key(uint8_t code) { return 255u + 256u * code; }
constexpr uint32_t key_escape = 27;
constexpr uint32_t key_enter = 13;
constexpr uint32_t key_backspace = 8;
constexpr uint32_t key_tab = 9;
constexpr uint32_t key_up = extended_key(72);
constexpr uint32_t key_down = extended_key(80);
constexpr uint32_t key_left = extended_key(75);
constexpr uint32_t key_right = extended_key(77);
constexpr uint32_t key_insert = extended_key(82);
constexpr uint32_t key_delete = extended_key(83);
constexpr uint32_t key_home = extended_key(71);
constexpr uint32_t key_end = extended_key(79);
constexpr uint32_t key_page_up = extended_key(73);
constexpr uint32_t key_page_down = extended_key(81);
constexpr uint32_t key_close_window = extended_key(107);

// A re-entrant lock that the display thread can ask priority on, so that a
// program thread relocking in a tight loop cannot starve the display.
class ScreenLock {
public:
    void lock();
    void unlock();
    // Display thread: announces that it wants the lock; the program thread
    // yields on its next outermost lock until the display has had its turn.
    void lock_with_priority();
    // How many threads are in lock_with_priority right now, counted from the
    // moment they ask, before they hold anything.
    int priority_waiters();
    // The action a holder runs once its hold has ended, with the lock
    // released, when it owed one; set before the lock is shared.
    void set_after_release(std::function<void()> action) { after_release_ = std::move(action); }
    // The holder: the action is owed at the end of this hold.
    void owe_after_release() { after_release_owed_ = true; }

private:
    void acquire(std::unique_lock<std::mutex>& guard, bool with_priority);

    std::mutex state_mutex_;
    std::condition_variable released_;
    std::thread::id owner_;
    int depth_ = 0;
    // Raised before the state mutex is taken: a thread relocking in a tight loop
    // holds that mutex much of the time and would otherwise keep the display
    // thread from even announcing itself for milliseconds.
    std::atomic<int> priority_waiters_{0};
    std::function<void()> after_release_;
    bool after_release_owed_ = false;  // written by the holder only
};

using RowMarks = std::array<bool, screen_height>;

// One reader's view of what changed on the screen since it last took it: the
// display thread reads the screen's own, and another reader (a terminal view)
// adds one of its own, so that neither takes the other's changes.
struct ScreenWatch {
    RowMarks rows{};
    bool palette_changed = true;
    bool reported = true;  // a change not yet taken was reported (or needs none)
    // Called on the first change after a take, once the screen lock is
    // released, on the thread that changed the screen; nullptr for none.
    std::function<void()> on_change;
    bool report_owed = false;
};

class Screen {
public:
    // The state of a freshly opened window: all pixels 0, default palette,
    // foreground 15 on background 0, cursor at row 1 column 1, empty key queue.
    explicit Screen(ErrorStatus& status);
    // Puts everything back to that opened state (window opening does this).
    void reset_to_opened_state();

    // Text output (each takes the lock for its whole duration).
    void set_text_colours(int32_t foreground, int32_t background);
    void clear_window();
    void move_cursor(int32_t row, int32_t column);
    CellPosition cursor_position();
    GridSize text_grid_size() const { return {}; }
    void write_text(std::string_view text, bool line_end);
    void finish_pending_line_end();
    bool line_end_pending();
    uint8_t foreground();
    uint8_t background();

    // Keyboard. queue_key is called by the window (display thread) and tests;
    // it wakes the program's thread (program_life.h). An end requested from
    // outside the program is taken like ESC: poll_key and pause_ms throw
    // EndRequested once it is set, and key_waiting counts it as a key.
    void queue_key(uint32_t key_code);
    std::string poll_key();
    bool key_waiting();
    // Sleeps until the clock reads wake_s (perhaps up to its wake margin
    // late, never past deadline_s), or less when a key arrives, the end is
    // requested or the program's thread is woken; returns at once when a key
    // is already queued.
    void wait_for_key_until(Clock& clock, double wake_s, double deadline_s);

    // Pixels. The caller of frame_for_drawing holds the lock and marks the rows it drew.
    uint8_t pixel(int32_t x, int32_t y) const;
    const uint8_t* frame() const { return frame_.data(); }
    uint8_t* frame_for_drawing() { return frame_.data(); }
    void mark_rows_changed(int32_t first_y, int32_t last_y);
    // The screen's own watch (the display thread's): whether row y changed
    // since the last take.
    bool row_changed(int32_t y) const;
    // Display thread: every row's mark, clearing them; false if none was set.
    using RowMarks = ::RowMarks;
    bool take_changed_row_marks(RowMarks& marks) { return take_changed_row_marks(own_watch_, marks); }
    bool take_changed_row_marks(ScreenWatch& watch, RowMarks& marks);
    const Palette& palette() const { return palette_; }
    bool take_palette_changed();
    // Called on the first change of rows or palette after a take, so that a
    // burst of drawing wakes the display thread once, after the screen lock is
    // released and never under it; nullptr for none. A call under way on
    // another thread may still end after the listener is cleared.
    void set_change_listener(std::function<void()> listener);
    // Another reader's watch, from now until it is removed; it sees every row changed.
    void add_watch(ScreenWatch& watch);
    void remove_watch(ScreenWatch& watch);

    ScreenLock& lock() { return lock_; }

    // The 1000 Hz, 250 ms tone of the bell character and the line editor.
    void set_tone_player(std::function<void()> play_tone);
    void sound_tone();

    ErrorStatus& status() { return status_; }

private:
    void draw_glyph(uint8_t code);
    void draw_edit_mark();
    void scroll_up(int32_t rows);
    void write_piece(std::string_view text);
    size_t write_once(std::string_view text);
    void write_printable(uint8_t code);
    void write_tab();
    void advance_column();
    void scroll_cursor_row_onto_grid();
    void fill_rows(int32_t first_y, int32_t last_y, uint8_t colour);
    void mark_row(int32_t y);
    void note_change();
    void report_changes();

    ErrorStatus& status_;
    ScreenLock lock_;
    std::vector<uint8_t> frame_;  // screen_width * screen_height palette indices
    Palette palette_;
    ScreenWatch own_watch_;
    std::vector<ScreenWatch*> watches_{&own_watch_};
    // Guards the watches' listeners and their owed reports, which are read
    // after the screen lock is released.
    std::mutex report_mutex_;
    int32_t cursor_row_ = 1;
    int32_t cursor_column_ = 1;
    uint8_t foreground_ = 15;
    uint8_t background_ = 0;
    bool pending_line_end_ = false;
    std::array<uint32_t, 16> keys_{};
    uint32_t key_write_ = 0;
    uint32_t key_read_ = 0;
    std::function<void()> play_tone_;
};

// What poll_key and pause_ms throw once an end is requested from outside: the
// logger catches it where the closing stage runs.
struct EndRequested {};

// Waits delay_ms on the clock; from 100 ms on, a key waiting or arriving, or a
// wake of the program's thread, ends the wait at once. The lock is held only
// to look. An end requested before or during the wait throws EndRequested at its end.
void pause_ms(Screen& screen, Clock& clock, int64_t delay_ms);
