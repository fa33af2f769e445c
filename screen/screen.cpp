// The palette screen: frame buffer and row marks, text cells with cursor and
// scrolling, the key queue, the timed wait and the lock shared with the display thread.
#include "screen/screen.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/clock.h"
#include "core/program_life.h"
#include "screen/font.h"

namespace {

constexpr int32_t text_area_height = text_rows * cell_height;  // lines 0 to 591
// While a write runs, line feeds may carry the cursor below the last row; it is
// scrolled back before the next glyph. Scrolling by a whole grid or more blanks
// the text area, so the cursor never needs to go further down than this.
constexpr int32_t lowest_cursor_row = text_rows + text_rows;
constexpr size_t key_slots = 16;

constexpr uint8_t char_bell = 7;
constexpr uint8_t char_backspace = 8;
constexpr uint8_t char_tab = 9;
constexpr uint8_t char_line_feed = 10;
constexpr uint8_t char_carriage_return = 13;
constexpr uint8_t char_edit_mark = 255;

bool is_control_character(uint8_t code)
{
    return code == char_bell || code == char_backspace || code == char_tab || code == char_line_feed ||
           code == char_carriage_return;
}

uint8_t low_byte(int32_t value) { return static_cast<uint8_t>(value & 0xFF); }

}  // namespace

// ---------------------------------------------------------------------------
// ScreenLock: re-entrant, with a turn for a waiting display thread.

void ScreenLock::acquire(std::unique_lock<std::mutex>& guard, bool with_priority)
{
    const std::thread::id me = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == me) {
        if (with_priority)
            priority_waiters_.fetch_sub(1);  // already ours: the announcement is over
        ++depth_;
        return;
    }
    if (with_priority) {
        released_.wait(guard, [this] { return depth_ == 0; });
        priority_waiters_.fetch_sub(1);
    } else {
        // A plain locker stands back while the display thread waits for its turn.
        released_.wait(guard, [this] { return depth_ == 0 && priority_waiters_.load() == 0; });
    }
    owner_ = me;
    depth_ = 1;
}

void ScreenLock::lock()
{
    std::unique_lock<std::mutex> guard(state_mutex_);
    acquire(guard, false);
}

void ScreenLock::lock_with_priority()
{
    priority_waiters_.fetch_add(1);
    std::unique_lock<std::mutex> guard(state_mutex_);
    acquire(guard, true);
}

void ScreenLock::unlock()
{
    std::unique_lock<std::mutex> guard(state_mutex_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id())
        return;  // not held by this thread: nothing to release
    --depth_;
    if (depth_ > 0)
        return;
    const bool action_owed = std::exchange(after_release_owed_, false);
    owner_ = std::thread::id();
    guard.unlock();
    released_.notify_all();
    if (action_owed && after_release_)
        after_release_();
}

int ScreenLock::priority_waiters() { return priority_waiters_.load(); }

// ---------------------------------------------------------------------------
// Screen state.

Screen::Screen(ErrorStatus& status) : status_(status), frame_(screen_width * screen_height, 0)
{
    lock_.set_after_release([this] { report_changes(); });
    reset_to_opened_state();
}

void Screen::reset_to_opened_state()
{
    std::lock_guard<ScreenLock> guard(lock_);
    std::fill(frame_.begin(), frame_.end(), uint8_t{0});
    palette_ = default_palette();
    for (ScreenWatch* watch : watches_) {
        watch->rows.fill(true);
        watch->palette_changed = true;
    }
    note_change();
    cursor_row_ = 1;
    cursor_column_ = 1;
    foreground_ = 15;
    background_ = 0;
    pending_line_end_ = false;
    key_write_ = 0;
    key_read_ = 0;
}

void Screen::set_text_colours(int32_t foreground, int32_t background)
{
    std::lock_guard<ScreenLock> guard(lock_);
    foreground_ = low_byte(foreground);
    background_ = low_byte(background);
}

uint8_t Screen::foreground()
{
    std::lock_guard<ScreenLock> guard(lock_);
    return foreground_;
}

uint8_t Screen::background()
{
    std::lock_guard<ScreenLock> guard(lock_);
    return background_;
}

void Screen::clear_window()
{
    std::lock_guard<ScreenLock> guard(lock_);
    fill_rows(0, screen_height - 1, background_);
    cursor_row_ = 1;
    cursor_column_ = 1;
    pending_line_end_ = false;
}

void Screen::move_cursor(int32_t row, int32_t column)
{
    std::lock_guard<ScreenLock> guard(lock_);
    status_.set(status_ok);
    pending_line_end_ = false;
    const bool row_ok = row == 0 || (row >= 1 && row <= text_rows);
    const bool column_ok = column == 0 || (column >= 1 && column <= text_columns);
    if (!row_ok || !column_ok)
        return;
    if (row != 0)
        cursor_row_ = row;
    if (column != 0)
        cursor_column_ = column;
}

CellPosition Screen::cursor_position()
{
    std::lock_guard<ScreenLock> guard(lock_);
    return {cursor_row_, cursor_column_};
}

bool Screen::line_end_pending()
{
    std::lock_guard<ScreenLock> guard(lock_);
    return pending_line_end_;
}

// ---------------------------------------------------------------------------
// Text output.

void Screen::write_text(std::string_view text, bool line_end)
{
    size_t bells = 0;
    {
        std::lock_guard<ScreenLock> guard(lock_);
        status_.set(status_ok);
        bells = write_once(text);
        if (line_end)
            write_once("\r\n");
    }
    // Tones play after the lock is released so the display keeps running meanwhile.
    for (size_t bell = 0; bell < bells; ++bell)
        sound_tone();
}

void Screen::finish_pending_line_end()
{
    std::lock_guard<ScreenLock> guard(lock_);
    if (!pending_line_end_)
        return;
    pending_line_end_ = false;
    cursor_column_ = 1;
    scroll_up(1);
}

// One write: the owed line end, then the characters, then the settling of a
// cursor left below the grid. Returns the number of bell characters met.
size_t Screen::write_once(std::string_view text)
{
    size_t bells = 0;
    if (text.empty())
        return bells;
    finish_pending_line_end();

    // A carriage return or backspace in column 1 leaves the cursor where it
    // was, so it does not count as the last character that moved it.
    bool last_move_was_line_control = false;
    size_t index = 0;
    while (index < text.size()) {
        const auto code = static_cast<uint8_t>(text[index]);
        if (is_control_character(code)) {
            switch (code) {
            case char_carriage_return:
                if (cursor_column_ > 1) {
                    cursor_column_ = 1;
                    last_move_was_line_control = true;
                }
                break;
            case char_line_feed:
                cursor_column_ = 1;
                cursor_row_ = std::min(cursor_row_ + 1, lowest_cursor_row);
                last_move_was_line_control = true;
                break;
            case char_backspace:
                if (cursor_column_ > 1) {
                    --cursor_column_;
                    last_move_was_line_control = true;
                }
                break;
            case char_tab:
                write_tab();
                last_move_was_line_control = false;
                break;
            default:  // bell: a tone, the cursor stays
                ++bells;
                break;
            }
            ++index;
            continue;
        }
        // A run of printable characters is drawn in pieces, one per row it touches.
        size_t run_end = index;
        while (run_end < text.size() && !is_control_character(static_cast<uint8_t>(text[run_end])))
            ++run_end;
        while (index < run_end) {
            scroll_cursor_row_onto_grid();
            const size_t room = static_cast<size_t>(text_columns - cursor_column_ + 1);
            const size_t piece_length = std::min(room, run_end - index);
            write_piece(text.substr(index, piece_length));
            index += piece_length;
        }
        last_move_was_line_control = false;
    }

    if (last_move_was_line_control && cursor_row_ > text_rows) {
        scroll_cursor_row_onto_grid();
    } else if (cursor_row_ == text_rows + 1 && cursor_column_ == 1) {
        // The text ended in the last cell of the grid: owe the line end, scroll nothing yet.
        cursor_row_ = text_rows;
        cursor_column_ = text_columns;
        pending_line_end_ = true;
    }
    return bells;
}

// Draws characters that all fit on the cursor's row. A piece that is the lone
// character 255 is the line editor's edit mark, not a glyph.
void Screen::write_piece(std::string_view text)
{
    if (text.size() == 1 && static_cast<uint8_t>(text[0]) == char_edit_mark) {
        draw_edit_mark();
        advance_column();
        return;
    }
    for (char c : text) {
        draw_glyph(static_cast<uint8_t>(c));
        advance_column();
    }
}

void Screen::write_printable(uint8_t code)
{
    scroll_cursor_row_onto_grid();
    draw_glyph(code);
    advance_column();
}

void Screen::write_tab()
{
    do {
        write_printable(' ');
    } while (cursor_column_ % 8 != 1);
}

void Screen::advance_column()
{
    ++cursor_column_;
    if (cursor_column_ > text_columns) {
        cursor_column_ = 1;
        cursor_row_ = std::min(cursor_row_ + 1, lowest_cursor_row);
    }
}

void Screen::scroll_cursor_row_onto_grid()
{
    if (cursor_row_ > text_rows)
        scroll_up(cursor_row_ - text_rows);
}

void Screen::draw_glyph(uint8_t code)
{
    if (cursor_row_ < 1 || cursor_row_ > text_rows || cursor_column_ < 1 || cursor_column_ > text_columns)
        return;
    const int32_t x0 = cell_width * (cursor_column_ - 1);
    const int32_t y0 = cell_height * (cursor_row_ - 1);
    const Glyph& glyph = vga_font_8x16[code];
    // Only lines whose pixels changed are marked: a readout rewritten with the
    // same text costs the display nothing.
    for (int32_t line = 0; line < cell_height; ++line) {
        uint8_t* row = frame_.data() + static_cast<size_t>(y0 + line) * screen_width + x0;
        const uint8_t bits = glyph[line];
        bool line_changed = false;
        for (int32_t bit = 0; bit < cell_width; ++bit) {
            const uint8_t colour = ((bits >> bit) & 1u) != 0 ? foreground_ : background_;
            line_changed = line_changed || row[bit] != colour;
            row[bit] = colour;
        }
        if (line_changed)
            mark_row(y0 + line);
    }
}

// The bottom pixel line of the cell in the foreground colour; the rest of the cell stays.
void Screen::draw_edit_mark()
{
    if (cursor_row_ < 1 || cursor_row_ > text_rows || cursor_column_ < 1 || cursor_column_ > text_columns)
        return;
    const int32_t x0 = cell_width * (cursor_column_ - 1);
    const int32_t y = cell_height * cursor_row_ - 1;
    uint8_t* row = frame_.data() + static_cast<size_t>(y) * screen_width + x0;
    std::fill(row, row + cell_width, foreground_);
    mark_rows_changed(y, y);
}

// Moves the text area up by whole text rows; the freed rows take the
// background colour. Lines below the text area never move.
void Screen::scroll_up(int32_t rows)
{
    if (rows <= 0)
        return;
    if (rows >= text_rows) {
        fill_rows(0, text_area_height - 1, background_);
    } else {
        const int32_t shift_lines = rows * cell_height;
        const size_t kept_bytes = static_cast<size_t>(text_area_height - shift_lines) * screen_width;
        std::memmove(frame_.data(), frame_.data() + static_cast<size_t>(shift_lines) * screen_width, kept_bytes);
        fill_rows(text_area_height - shift_lines, text_area_height - 1, background_);
    }
    mark_rows_changed(0, text_area_height - 1);
    cursor_row_ = text_rows;
}

void Screen::fill_rows(int32_t first_y, int32_t last_y, uint8_t colour)
{
    first_y = std::max(first_y, 0);
    last_y = std::min(last_y, screen_height - 1);
    if (first_y > last_y)
        return;
    auto begin = frame_.begin() + static_cast<ptrdiff_t>(first_y) * screen_width;
    auto end = frame_.begin() + static_cast<ptrdiff_t>(last_y + 1) * screen_width;
    std::fill(begin, end, colour);
    mark_rows_changed(first_y, last_y);
}

// ---------------------------------------------------------------------------
// Keyboard.

void Screen::queue_key(uint32_t key_code)
{
    // Only characters 1 to 255 and extended keys (low byte 255) are keys.
    const bool character = key_code >= 1 && key_code <= 255;
    const bool extended = key_code > 255 && (key_code & 0xFFu) == 255;
    if (!character && !extended)
        return;
    std::lock_guard<ScreenLock> guard(lock_);
    keys_[key_write_] = key_code;
    key_write_ = (key_write_ + 1) % key_slots;
    if (key_write_ == key_read_)
        key_read_ = (key_read_ + 1) % key_slots;  // full: the oldest key is lost
    program_life().wake_signal().raise();
}

std::string Screen::poll_key()
{
    if (program_end_requested())
        throw EndRequested{};
    std::lock_guard<ScreenLock> guard(lock_);
    if (key_read_ == key_write_)
        return {};
    const uint32_t code = keys_[key_read_];
    key_read_ = (key_read_ + 1) % key_slots;
    if (code <= 255)
        return std::string(1, static_cast<char>(code));
    std::string text(1, static_cast<char>(char_edit_mark));
    text += static_cast<char>((code >> 8) & 0xFFu);
    return text;
}

// An end requested counts as a key waiting, so that a loop waiting for keys
// goes on to poll_key, which takes the end.
bool Screen::key_waiting()
{
    if (program_end_requested())
        return true;
    std::lock_guard<ScreenLock> guard(lock_);
    return key_read_ != key_write_;
}

// A raised wake with nothing behind it (a key already taken) waits on.
void Screen::wait_for_key_until(Clock& clock, double wake_s, double deadline_s)
{
    ProgramLife& life = program_life();
    while (!key_waiting() && !life.take_wake_request())
        if (!clock.wait_until_deadline(wake_s, deadline_s, life.wake_signal()))
            return;
}

// ---------------------------------------------------------------------------
// Pixels and change marks.

uint8_t Screen::pixel(int32_t x, int32_t y) const
{
    if (x < 0 || x >= screen_width || y < 0 || y >= screen_height)
        return 0;
    return frame_[static_cast<size_t>(y) * screen_width + static_cast<size_t>(x)];
}

void Screen::mark_rows_changed(int32_t first_y, int32_t last_y)
{
    first_y = std::max(first_y, 0);
    last_y = std::min(last_y, screen_height - 1);
    for (int32_t y = first_y; y <= last_y; ++y)
        for (ScreenWatch* watch : watches_)
            watch->rows[static_cast<size_t>(y)] = true;
    if (first_y <= last_y)
        note_change();
}

void Screen::mark_row(int32_t y)
{
    for (ScreenWatch* watch : watches_)
        watch->rows[static_cast<size_t>(y)] = true;
    note_change();
}

bool Screen::row_changed(int32_t y) const
{
    if (y < 0 || y >= screen_height)
        return false;
    return own_watch_.rows[static_cast<size_t>(y)];
}

bool Screen::take_changed_row_marks(ScreenWatch& watch, RowMarks& marks)
{
    std::lock_guard<ScreenLock> guard(lock_);
    marks = watch.rows;
    watch.rows.fill(false);
    watch.reported = false;
    return std::find(marks.begin(), marks.end(), true) != marks.end();
}

bool Screen::take_palette_changed()
{
    std::lock_guard<ScreenLock> guard(lock_);
    const bool changed = own_watch_.palette_changed;
    own_watch_.palette_changed = false;
    own_watch_.reported = false;
    return changed;
}

void Screen::set_change_listener(std::function<void()> listener)
{
    std::lock_guard<std::mutex> guard(report_mutex_);
    own_watch_.on_change = std::move(listener);
}

void Screen::add_watch(ScreenWatch& watch)
{
    std::lock_guard<ScreenLock> guard(lock_);
    watch.rows.fill(true);
    watch.palette_changed = true;
    watch.reported = false;
    watches_.push_back(&watch);
    note_change();
}

void Screen::remove_watch(ScreenWatch& watch)
{
    std::lock_guard<ScreenLock> guard(lock_);
    std::lock_guard<std::mutex> report_guard(report_mutex_);
    std::erase(watches_, &watch);
}

// Under the lock. Only the step from nothing owed to something owed is
// reported: a reader takes everything at once, so further marks before that
// need no report. The report waits for the lock's release: a listener that
// wakes a window may call into its library, and no lock may be held across that.
void Screen::note_change()
{
    bool owed = false;
    for (ScreenWatch* watch : watches_) {
        if (watch->reported)
            continue;
        watch->reported = true;
        owed = true;
    }
    if (!owed)
        return;
    {
        std::lock_guard<std::mutex> guard(report_mutex_);
        for (ScreenWatch* watch : watches_)
            watch->report_owed = watch->report_owed || (watch->reported && watch->on_change);
    }
    lock_.owe_after_release();
}

// After the screen lock is released, with nothing held while the listeners run.
void Screen::report_changes()
{
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard<std::mutex> guard(report_mutex_);
        for (ScreenWatch* watch : watches_)
            if (std::exchange(watch->report_owed, false) && watch->on_change)
                listeners.push_back(watch->on_change);
    }
    for (const std::function<void()>& listener : listeners)
        listener();
}

// ---------------------------------------------------------------------------
// Tone.

void Screen::set_tone_player(std::function<void()> play_tone)
{
    std::lock_guard<ScreenLock> guard(lock_);
    play_tone_ = std::move(play_tone);
}

void Screen::sound_tone()
{
    std::function<void()> player;
    {
        std::lock_guard<ScreenLock> guard(lock_);
        player = play_tone_;
    }
    if (player)
        player();
}

// ---------------------------------------------------------------------------
// Timed wait.

// The end is counted from the start of the wait: a wake with nothing behind
// it waits on for the rest, not for the whole delay again.
void pause_ms(Screen& screen, Clock& clock, int64_t delay_ms)
{
    constexpr int64_t shortest_interruptible_ms = 100;
    if (delay_ms < shortest_interruptible_ms) {
        if (delay_ms > 0)
            clock.sleep_ms(delay_ms);
    } else {
        ProgramLife& life = program_life();
        const double end_s = clock.seconds() + static_cast<double>(delay_ms) / 1000.0;
        while (!screen.key_waiting() && !life.take_wake_request())
            if (!clock.wait_until(end_s, life.wake_signal()))
                break;
    }
    if (program_end_requested())
        throw EndRequested{};
}
