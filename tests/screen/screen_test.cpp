// Screen: glyph cells, cursor movement, wrapping and scrolling, the pending line
// end, the edit mark, the key queue, the timed wait and the priority lock.
#include "screen/screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/program_life.h"
#include "screen/font.h"
#include "screen_test_support.h"

namespace {

struct ScreenTest : ::testing::Test {
    ErrorStatus status;
    Screen screen{status};

    void white_page()
    {
        screen.set_text_colours(0, 15);
        screen.clear_window();
    }

    // Paints each text row 1 to 37 with its own letter so moved rows can be recognised.
    void letter_rows()
    {
        for (int32_t row = 1; row <= text_rows; ++row) {
            screen.move_cursor(row, 1);
            screen.write_text(std::string(1, static_cast<char>('A' + (row - 1) % 26)), false);
        }
    }

    bool cell_matches_glyph(int32_t row, int32_t column, uint8_t code, uint8_t fg, uint8_t bg) const
    {
        const int32_t x0 = 8 * (column - 1);
        const int32_t y0 = 16 * (row - 1);
        for (int32_t i = 0; i < 16; ++i)
            for (int32_t b = 0; b < 8; ++b) {
                const bool set = (vga_font_8x16[code][i] >> b) & 1u;
                if (screen.pixel(x0 + b, y0 + i) != (set ? fg : bg))
                    return false;
            }
        return true;
    }

    bool lines_all(int32_t first_y, int32_t last_y, uint8_t colour) const
    {
        for (int32_t y = first_y; y <= last_y; ++y)
            for (int32_t x = 0; x < screen_width; ++x)
                if (screen.pixel(x, y) != colour)
                    return false;
        return true;
    }

    // Fills the last row from its first cell, so the line end is owed, over lettered rows.
    void owe_a_line_end()
    {
        white_page();
        letter_rows();
        screen.move_cursor(37, 1);
        screen.write_text(std::string(100, 'z'), false);
    }
};

CellPosition at(int32_t row, int32_t column) { return {row, column}; }

TEST_F(ScreenTest, clear_window_fills_every_line_including_the_bottom_strip)
{
    screen.move_cursor(20, 50);
    screen.set_text_colours(0, 15);
    screen.clear_window();
    EXPECT_TRUE(lines_all(0, screen_height - 1, 15));
    EXPECT_EQ(screen.cursor_position(), at(1, 1));
    EXPECT_TRUE(screen.row_changed(599));
}

TEST_F(ScreenTest, colours_keep_only_their_low_byte)
{
    screen.set_text_colours(256 + 4, -1);
    EXPECT_EQ(screen.foreground(), 4);
    EXPECT_EQ(screen.background(), 255);
}

TEST_F(ScreenTest, text_paints_whole_glyph_cells_and_advances_the_cursor_to_the_next_row_after_column_100)
{
    white_page();
    clear_change_marks(screen);
    status.set(3);
    screen.move_cursor(3, 10);
    screen.write_text("AB", false);
    EXPECT_EQ(status.code(), 0);
    EXPECT_TRUE(cell_matches_glyph(3, 10, 'A', 0, 15));
    EXPECT_TRUE(cell_matches_glyph(3, 11, 'B', 0, 15));
    EXPECT_EQ(screen.cursor_position(), at(3, 12));
    // Columns 72 to 87 of lines 32 to 47 only; neighbours untouched.
    EXPECT_EQ(screen.pixel(71, 40), 15);
    EXPECT_EQ(screen.pixel(88, 40), 15);
    // Marked: the cell lines whose pixels changed (the glyphs' top and bottom lines are blank).
    EXPECT_TRUE(screen.row_changed(36) && screen.row_changed(40));
    EXPECT_FALSE(screen.row_changed(31) || screen.row_changed(32) || screen.row_changed(47));
    // The same text again changes no pixel and marks nothing.
    clear_change_marks(screen);
    screen.move_cursor(3, 10);
    screen.write_text("AB", false);
    EXPECT_FALSE(clear_change_marks(screen));
    // Text continues on the next row after column 100.
    screen.move_cursor(4, 99);
    screen.write_text("abc", false);
    EXPECT_TRUE(cell_matches_glyph(4, 99, 'a', 0, 15));
    EXPECT_TRUE(cell_matches_glyph(4, 100, 'b', 0, 15));
    EXPECT_TRUE(cell_matches_glyph(5, 1, 'c', 0, 15));
    EXPECT_EQ(screen.cursor_position(), at(5, 2));
}

// Each row writes its pieces from a place over lettered rows: where the cursor ends, whether a line end
// is owed, and the letter of the top row ('A' unscrolled, 'B' scrolled one row).
TEST_F(ScreenTest, cursor_line_end_and_scrolling_after_a_write)
{
    const std::string full_row(100, 'x');
    struct Row {
        const char* name;
        CellPosition from;
        std::vector<std::string> pieces;
        bool line_end;  // of the last piece
        CellPosition after;
        bool line_end_owed;
        char top_row_letter;
    } rows[] = {
        {"line end on row 36", at(36, 5), {""}, true, at(37, 1), false, 'A'},
        {"line end on row 37", at(37, 1), {""}, true, at(37, 1), false, 'B'},
        {"line feeds below the grid scroll by the rows passed", at(37, 1), {"\n\n\n"}, false, at(37, 1), false, 'D'},
        {"a full row wraps", at(5, 1), {full_row}, false, at(6, 1), false, 'A'},
        {"a full row and a line end leave an empty row", at(5, 1), {full_row}, true, at(7, 1), false, 'A'},
        {"a full last row owes its line end", at(37, 1), {full_row}, false, at(37, 100), true, 'A'},
        {"an empty write keeps it owed", at(37, 1), {full_row, ""}, false, at(37, 100), true, 'A'},
        {"the next write pays it", at(37, 1), {full_row, "q"}, false, at(37, 2), false, 'B'},
        // Only a carriage return, line feed or backspace that moved the cursor lets the end of a write
        // scroll; one that stood still in column 1 leaves the line end owed.
        {"backspace in column 1", at(37, 1), {full_row + "\b"}, false, at(37, 100), true, 'A'},
        {"carriage return in column 1", at(37, 1), {full_row + "\r"}, false, at(37, 100), true, 'A'},
        {"carriage return after a line feed", at(37, 1), {"\n\r"}, false, at(37, 1), false, 'B'},
        {"backspaces stop at column 1", at(6, 1), {"abc\b\b", "\b\b\b"}, false, at(6, 1), false, 'A'},
        // A tab pads to the next tab column with at least one space.
        {"tab from column 1", at(2, 1), {"\t"}, false, at(2, 9), false, 'A'},
        {"tab from column 8", at(2, 8), {"\t"}, false, at(2, 9), false, 'A'},
        {"tab from column 9", at(2, 9), {"\t"}, false, at(2, 17), false, 'A'},
        {"tab from column 12", at(2, 12), {"\t"}, false, at(2, 17), false, 'A'},
        {"tab from column 97", at(2, 97), {"\t"}, false, at(3, 1), false, 'A'},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        white_page();
        letter_rows();
        screen.move_cursor(row.from.row, row.from.column);
        for (size_t i = 0; i < row.pieces.size(); ++i)
            screen.write_text(row.pieces[i], row.line_end && i + 1 == row.pieces.size());
        EXPECT_EQ(screen.cursor_position(), row.after);
        EXPECT_EQ(screen.line_end_pending(), row.line_end_owed);
        EXPECT_TRUE(cell_matches_glyph(1, 1, static_cast<uint8_t>(row.top_row_letter), 0, 15));
    }
}

// The rows freed at the bottom take the current background; the strip below the grid stays.
TEST_F(ScreenTest, scrolling_fills_the_freed_rows_with_the_background_and_spares_the_bottom_strip)
{
    white_page();
    letter_rows();
    screen.set_text_colours(0, 2);
    screen.move_cursor(37, 1);
    clear_change_marks(screen);
    screen.write_text("", true);
    EXPECT_TRUE(cell_matches_glyph(36, 1, 'A' + 36 % 26, 0, 15));
    EXPECT_TRUE(lines_all(576, 591, 2));
    EXPECT_TRUE(lines_all(592, 599, 15));
    EXPECT_TRUE(screen.row_changed(0) && screen.row_changed(591));
    EXPECT_FALSE(screen.row_changed(592));
    screen.write_text("\n\n\n", false);  // as many rows freed as scrolled
    EXPECT_TRUE(lines_all(16 * 34, 591, 2));

    // Scrolling by the whole grid or more blanks the text area.
    screen.set_text_colours(0, 4);
    screen.write_text(std::string(1000, '\n') + "x", false);
    EXPECT_TRUE(lines_all(0, 16 * 36 - 1, 4));
    EXPECT_TRUE(cell_matches_glyph(37, 1, 'x', 0, 4));
    EXPECT_TRUE(lines_all(592, 599, 15));
}

// An owed line end scrolls before the next text, or once when finished, and not at all after a cursor move.
TEST_F(ScreenTest, owed_line_end_scrolls_before_text_or_when_finished_unless_the_cursor_moved)
{
    owe_a_line_end();
    screen.write_text("q", false);
    EXPECT_TRUE(cell_matches_glyph(36, 1, 'z', 0, 15));
    EXPECT_TRUE(cell_matches_glyph(37, 1, 'q', 0, 15));

    owe_a_line_end();
    screen.finish_pending_line_end();
    screen.finish_pending_line_end();  // no longer owed: nothing happens
    EXPECT_EQ(screen.cursor_position(), at(37, 1));
    EXPECT_TRUE(cell_matches_glyph(1, 1, 'B', 0, 15));
    EXPECT_TRUE(lines_all(576, 591, 15));

    owe_a_line_end();
    screen.move_cursor(0, 0);
    EXPECT_FALSE(screen.line_end_pending());
    screen.write_text("q", false);
    EXPECT_TRUE(cell_matches_glyph(1, 1, 'A', 0, 15));
    EXPECT_TRUE(cell_matches_glyph(37, 100, 'q', 0, 15));
}

TEST_F(ScreenTest, move_cursor_outside_the_grid_moves_nothing)
{
    screen.move_cursor(5, 7);
    for (auto [row, column] : std::vector<std::pair<int32_t, int32_t>>{{38, 1}, {1, 101}, {-1, 5}, {5, -3}}) {
        status.set(2);
        screen.move_cursor(row, column);
        EXPECT_EQ(screen.cursor_position(), at(5, 7)) << row << "," << column;
        EXPECT_EQ(status.code(), 0);
    }
    screen.move_cursor(0, 5);
    EXPECT_EQ(screen.cursor_position(), at(5, 5));
    screen.move_cursor(9, 0);
    EXPECT_EQ(screen.cursor_position(), at(9, 5));
}

TEST_F(ScreenTest, lone_255_draws_the_edit_mark_and_a_space_erases_it)
{
    white_page();
    screen.write_text(std::string(100 * 37, '\xB1'), false);  // shaded background to keep
    screen.move_cursor(10, 40);
    screen.set_text_colours(0, 15);
    screen.write_text("\xFF", false);
    EXPECT_EQ(screen.cursor_position(), at(10, 41));
    for (int32_t x = 312; x <= 319; ++x)
        EXPECT_EQ(screen.pixel(x, 159), 0);
    // The rest of the cell still shows the shading glyph in its old colours.
    for (int32_t i = 0; i < 15; ++i)
        for (int32_t b = 0; b < 8; ++b) {
            const bool set = (vga_font_8x16[0xB1][i] >> b) & 1u;
            ASSERT_EQ(screen.pixel(312 + b, 144 + i), set ? 0 : 15);
        }
    screen.move_cursor(10, 40);
    screen.write_text(" ", false);
    EXPECT_TRUE(cell_matches_glyph(10, 40, ' ', 0, 15));
}

TEST_F(ScreenTest, 255_is_a_mark_only_when_alone_in_its_piece)
{
    white_page();
    screen.write_text(std::string(1, '\xDB'), false);
    screen.move_cursor(1, 1);
    screen.write_text("\xFF\xFF", false);  // a longer piece: empty glyphs
    EXPECT_TRUE(cell_matches_glyph(1, 1, 255, 0, 15));
    EXPECT_TRUE(cell_matches_glyph(1, 2, 255, 0, 15));

    // Left alone on a row by the wrap: the mark.
    screen.move_cursor(3, 1);
    screen.write_text(std::string(99, 'x') + "y\xFF", false);
    EXPECT_EQ(screen.pixel(0, 16 * 4 - 1), 0);
    EXPECT_EQ(screen.pixel(0, 16 * 3), 15);
    EXPECT_EQ(screen.cursor_position(), at(4, 2));
}

TEST_F(ScreenTest, tab_backspace_and_carriage_return_move_and_only_the_tab_paints)
{
    white_page();
    screen.move_cursor(2, 1);
    screen.write_text("\xDB\xDB\xDB", false);
    screen.move_cursor(2, 1);
    screen.write_text("\t", false);
    EXPECT_TRUE(lines_all(16, 31, 15));  // the tab's spaces painted over the blocks
    screen.move_cursor(6, 1);
    screen.write_text("abc\b\b", false);
    EXPECT_TRUE(cell_matches_glyph(6, 3, 'c', 0, 15));
    screen.write_text("\b\b\b", false);
    screen.write_text("xy\rZ", false);
    EXPECT_TRUE(cell_matches_glyph(6, 1, 'Z', 0, 15));
    EXPECT_TRUE(cell_matches_glyph(6, 2, 'y', 0, 15));
    EXPECT_EQ(screen.cursor_position(), at(6, 2));
}

TEST_F(ScreenTest, bell_sounds_after_the_write_releases_the_lock_and_draws_nothing)
{
    white_page();
    int tones = 0, tones_with_lock_free = 0;
    std::vector<std::thread> lockers;
    screen.set_tone_player([&] {
        ++tones;
        // Another thread must be able to take the lock while the tone plays.
        auto taken = std::make_shared<std::atomic<bool>>(false);
        lockers.emplace_back([this, taken] {
            std::lock_guard<ScreenLock> guard(screen.lock());
            *taken = true;
        });
        for (int spin = 0; spin < 10'000'000 && !*taken; ++spin)
            std::this_thread::yield();
        tones_with_lock_free += *taken ? 1 : 0;
    });
    screen.move_cursor(4, 4);
    screen.write_text("\a\a", false);
    for (auto& locker : lockers)
        locker.join();
    EXPECT_EQ(tones, 2);
    EXPECT_EQ(tones_with_lock_free, 2);
    EXPECT_EQ(screen.cursor_position(), at(4, 4));
    EXPECT_TRUE(lines_all(0, 599, 15));
}

TEST_F(ScreenTest, changed_row_marks_are_taken_row_by_row_and_cleared)
{
    clear_change_marks(screen);
    Screen::RowMarks marks{};
    marks.fill(true);
    EXPECT_FALSE(screen.take_changed_row_marks(marks));
    EXPECT_EQ(std::count(marks.begin(), marks.end(), true), 0);
    screen.mark_rows_changed(10, 11);
    screen.mark_rows_changed(599, 599);
    ASSERT_TRUE(screen.take_changed_row_marks(marks));
    EXPECT_EQ(std::count(marks.begin(), marks.end(), true), 3);
    EXPECT_TRUE(marks[10] && marks[11] && marks[599]);
    EXPECT_FALSE(screen.row_changed(10) || screen.row_changed(599));
    EXPECT_FALSE(screen.take_changed_row_marks(marks));
}

// The display thread is woken by the first change after each take only: a
// burst of drawing costs one wake, and no change after a take goes unheard.
TEST_F(ScreenTest, change_listener_hears_the_first_change_after_each_take)
{
    clear_change_marks(screen);
    int heard = 0;
    screen.set_change_listener([&heard] { ++heard; });
    screen.write_text("a burst of glyphs", true);
    screen.mark_rows_changed(500, 501);
    EXPECT_EQ(heard, 1);
    Screen::RowMarks marks{};
    screen.take_changed_row_marks(marks);
    screen.write_text("x", false);
    EXPECT_EQ(heard, 2);
    screen.take_palette_changed();
    screen.reset_to_opened_state();
    EXPECT_EQ(heard, 3);
    screen.set_change_listener(nullptr);
}

// Codes that are no key are not queued; looking whether a key waits takes none.
TEST_F(ScreenTest, poll_key_gives_character_and_extended_key_texts)
{
    EXPECT_EQ(screen.poll_key(), "");
    for (uint32_t key : {key_escape, 0u, key_up, 0x1234u, key_close_window, uint32_t{'7'}, 255u})
        screen.queue_key(key);
    EXPECT_TRUE(screen.key_waiting());
    EXPECT_TRUE(screen.key_waiting());
    for (const char* text : {"\x1B", "\xFFH", "\xFFk", "7", "\xFF"})
        EXPECT_EQ(screen.poll_key(), text);
    EXPECT_FALSE(screen.key_waiting());
    EXPECT_EQ(screen.poll_key(), "");
}

TEST_F(ScreenTest, full_queue_drops_the_oldest_key)
{
    for (uint32_t key = 'a'; key < 'a' + 16; ++key)
        screen.queue_key(key);
    std::string taken;
    while (screen.key_waiting())
        taken += screen.poll_key();
    EXPECT_EQ(taken, "bcdefghijklmnop");
}

TEST_F(ScreenTest, fresh_and_reset_screens_are_black_with_cursor_home_opened_colours_and_no_key)
{
    EXPECT_TRUE(lines_all(0, 599, 0));
    EXPECT_EQ(screen.cursor_position(), at(1, 1));
    screen.set_text_colours(3, 4);
    screen.clear_window();
    screen.move_cursor(7, 7);
    screen.queue_key('k');
    screen.queue_key('l');
    screen.poll_key();  // the queue no longer starts at its first slot
    screen.reset_to_opened_state();
    EXPECT_TRUE(lines_all(0, 599, 0));
    EXPECT_EQ(screen.cursor_position(), at(1, 1));
    EXPECT_EQ(screen.foreground(), 15);
    EXPECT_EQ(screen.background(), 0);
    EXPECT_FALSE(screen.key_waiting());
    EXPECT_TRUE(screen.take_palette_changed());
}

struct PauseTest : ScreenTest {
    ProgramLife life;
    VirtualClock clock;
    std::vector<int64_t> sleeps;

    PauseTest() { use_program_life(&life); }
    ~PauseTest() override { use_program_life(nullptr); }

    void record_sleeps(std::function<void(size_t)> after_sleep = {})
    {
        clock.set_on_sleep([this, after_sleep](int64_t ms) {
            sleeps.push_back(ms);
            if (after_sleep)
                after_sleep(sleeps.size());
        });
    }
};

TEST_F(PauseTest, short_waits_ignore_keys)
{
    record_sleeps();
    screen.queue_key('a');
    pause_ms(screen, clock, 50);
    pause_ms(screen, clock, 99);
    pause_ms(screen, clock, 0);
    pause_ms(screen, clock, -5);
    EXPECT_EQ(sleeps, (std::vector<int64_t>{50, 99}));
    EXPECT_TRUE(screen.key_waiting());
}

TEST_F(PauseTest, a_waiting_key_ends_the_wait_at_once_but_a_polled_one_does_not)
{
    record_sleeps();
    screen.queue_key('q');
    pause_ms(screen, clock, 1000);
    EXPECT_TRUE(sleeps.empty());
    EXPECT_TRUE(screen.key_waiting());

    screen.queue_key('r');
    screen.poll_key();
    screen.poll_key();
    pause_ms(screen, clock, 1000);
    EXPECT_EQ(clock.total_slept_ms(), 1000);
}

// A key, the program's thread woken from another thread (no key, no end) or an end requested ends the
// wait there; the end is thrown at the wait's end.
TEST_F(PauseTest, a_key_a_wake_or_an_end_request_ends_the_wait_at_once)
{
    record_sleeps([this](size_t count) {
        clock.advance_ms(150);
        if (count == 1)
            screen.queue_key(key_escape);
        else if (count == 2)
            wake_program_thread();
        else
            request_program_end();
    });
    const int64_t start_ns = clock.now_ns();
    pause_ms(screen, clock, 3000);
    EXPECT_EQ(clock.now_ns() - start_ns, 150'000'000);
    EXPECT_EQ(screen.poll_key(), "\x1B");
    pause_ms(screen, clock, 1000);
    EXPECT_EQ(clock.now_ns() - start_ns, 300'000'000);
    EXPECT_FALSE(screen.key_waiting());
    EXPECT_THROW(pause_ms(screen, clock, 1000), EndRequested);
    EXPECT_EQ(clock.now_ns() - start_ns, 450'000'000);
}

TEST(ScreenLock, is_reentrant_and_excludes_other_threads_until_fully_released)
{
    ScreenLock lock;
    lock.lock();
    lock.lock();
    std::atomic<bool> other_has_it{false};
    std::thread other([&] {
        std::lock_guard<ScreenLock> guard(lock);
        other_has_it = true;
    });
    lock.unlock();
    for (int i = 0; i < 1000; ++i)
        std::this_thread::yield();
    EXPECT_FALSE(other_has_it.load());
    lock.unlock();
    other.join();
    EXPECT_TRUE(other_has_it.load());
}

// One round: this thread relocks in a tight loop while a display thread asks
// for the lock once. Returns how many passes this thread made while the
// display thread was already waiting, or -1 if the display never got the lock.
int64_t passes_while_display_waits(ScreenLock& lock)
{
    std::atomic<bool> display_done{false};
    volatile int busy_work = 0;
    int64_t passes_while_waiting = 0;
    std::thread display;
    constexpr int64_t give_up_after = 2'000'000;
    for (int64_t i = 0; i < give_up_after && !display_done; ++i) {
        lock.lock();
        lock.lock();  // nested, as drawing operations nest
        for (int work = 0; work < 200; ++work)
            busy_work = busy_work + 1;  // the drawing the lock protects
        if (i == 10) {
            display = std::thread([&] {
                lock.lock_with_priority();
                display_done = true;
                lock.unlock();
            });
        }
        if (lock.priority_waiters() > 0)
            ++passes_while_waiting;
        lock.unlock();
        lock.unlock();
    }
    if (display.joinable())
        display.join();
    return display_done ? passes_while_waiting : -1;
}

TEST(ScreenLock, display_thread_gets_its_turn_against_a_tight_relock_loop)
{
    ScreenLock lock;
    for (int round = 0; round < 10; ++round) {
        const int64_t passes = passes_while_display_waits(lock);
        // The loop may finish the pass in which the display started waiting;
        // its next outermost lock hands over.
        EXPECT_GE(passes, 0) << "round " << round;
        EXPECT_LE(passes, 1) << "round " << round;
    }
}

}  // namespace
