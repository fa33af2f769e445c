// Tests of the keyboard line editor: keys are queued on the screen whenever the
// editor waits, and what it leaves on the screen is compared with the same text
// written plainly on a second screen.
#include "text/line_editor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/clock.h"
#include "gfx/screen.h"
#include "io/channels.h"
#include "text/field_reader.h"

namespace {

constexpr uint32_t key_line_feed = 10;
constexpr uint32_t key_f1 = extended_key(59);

std::vector<uint32_t> typed(std::string_view text)
{
    std::vector<uint32_t> keys;
    for (char c : text)
        keys.push_back(static_cast<uint8_t>(c));
    return keys;
}

std::vector<uint32_t> operator+(std::vector<uint32_t> a, const std::vector<uint32_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint32_t> operator+(std::vector<uint32_t> a, uint32_t key)
{
    a.push_back(key);
    return a;
}

// A screen in the logger's colours, black on white.
void prepare(Screen& screen)
{
    screen.set_text_colours(0, 15);
    screen.clear_window();
}

struct Editing {
    ErrorStatus status;
    Screen screen{status};
    VirtualClock clock;
    std::deque<uint32_t> keys;
    int tones = 0;
    bool ran_out_of_keys = false;
    size_t keys_per_wait = 15;  // the queue holds fifteen
    std::function<void()> on_wait;  // looks at the screen while the editor waits

    Editing()
    {
        prepare(screen);
        screen.set_tone_player([this] { ++tones; });
        clock.set_on_sleep([this](int64_t) { feed_keys(); });
    }

    void feed_keys()
    {
        if (on_wait)
            on_wait();
        if (keys.empty()) {
            ran_out_of_keys = true;
            screen.queue_key(key_enter);
            return;
        }
        for (size_t i = 0; i < keys_per_wait && !keys.empty(); ++i) {
            screen.queue_key(keys.front());
            keys.pop_front();
        }
    }

    std::string edit(const std::vector<uint32_t>& script)
    {
        keys.assign(script.begin(), script.end());
        std::string line = edit_line(screen, clock);
        EXPECT_FALSE(ran_out_of_keys) << "the editor waited for more keys than the script held";
        return line;
    }
};

// The screen that shows `text` written plainly at (row, column).
struct Reference {
    ErrorStatus status;
    Screen screen{status};
    Reference(int32_t row, int32_t column, std::string_view text)
    {
        prepare(screen);
        screen.move_cursor(row, column);
        screen.write_text(text, false);
    }
};

::testing::AssertionResult same_pixels(Screen& actual, Screen& expected)
{
    const size_t bytes = static_cast<size_t>(screen_width) * screen_height;
    if (std::memcmp(actual.frame(), expected.frame(), bytes) == 0)
        return ::testing::AssertionSuccess();
    for (size_t i = 0; i < bytes; ++i) {
        if (actual.frame()[i] != expected.frame()[i]) {
            const size_t x = i % screen_width;
            const size_t y = i / screen_width;
            return ::testing::AssertionFailure()
                   << "first difference in the cell at row " << y / cell_height + 1 << ", column "
                   << x / cell_width + 1 << " (pixel " << x << ", " << y << ")";
        }
    }
    return ::testing::AssertionFailure();
}

bool cell_is_blank(Screen& screen, int32_t row, int32_t column)
{
    for (int32_t y = 0; y < cell_height; ++y)
        for (int32_t x = 0; x < cell_width; ++x)
            if (screen.pixel((column - 1) * cell_width + x, (row - 1) * cell_height + y) != 15)
                return false;
    return true;
}

// The edit mark over a blank cell: only the bottom pixel line in the foreground colour.
bool cell_shows_mark(Screen& screen, int32_t row, int32_t column)
{
    for (int32_t y = 0; y < cell_height; ++y)
        for (int32_t x = 0; x < cell_width; ++x) {
            const uint8_t expected = y == cell_height - 1 ? 0 : 15;
            if (screen.pixel((column - 1) * cell_width + x, (row - 1) * cell_height + y) != expected)
                return false;
        }
    return true;
}

}  // namespace

TEST(LineEditor, prompt_mark_and_enter_follow_the_cursor)
{
    ErrorStatus status;
    Screen screen(status);
    ChannelTable channels(status);
    VirtualClock clock;
    FieldReader reader(status, screen, channels, clock);
    prepare(screen);
    screen.move_cursor(10, 10);

    std::vector<std::function<void()>> looks = {
        [&] {
            EXPECT_TRUE(cell_shows_mark(screen, 10, 40));
            EXPECT_EQ(screen.cursor_position(), (CellPosition{10, 40}));
            screen.queue_key('3');
        },
        [&] {
            EXPECT_FALSE(cell_is_blank(screen, 10, 40));
            EXPECT_TRUE(cell_shows_mark(screen, 10, 41));
            screen.queue_key(key_enter);
        },
    };
    size_t wait = 0;
    clock.set_on_sleep([&](int64_t delay_ms) {
        EXPECT_EQ(delay_ms, line_editor_poll_ms);
        ASSERT_LT(wait, looks.size());
        looks[wait++]();
    });
    reader.enter_line("Enter COM Port Number (1-10): ", false, true);

    EXPECT_EQ(wait, 2u);
    EXPECT_TRUE(cell_is_blank(screen, 10, 41));
    EXPECT_EQ(screen.cursor_position(), (CellPosition{11, 1}));
    Reference expected(10, 10, "Enter COM Port Number (1-10): 3");
    EXPECT_TRUE(same_pixels(screen, expected.screen));
    EXPECT_EQ(reader.read_int_field(), 3);
}

TEST(LineEditor, enter_line_adds_question_and_may_omit_line_end)
{
    ErrorStatus status;
    Screen screen(status);
    ChannelTable channels(status);
    VirtualClock clock;
    FieldReader reader(status, screen, channels, clock);
    prepare(screen);
    clock.set_on_sleep([&](int64_t) {
        for (uint32_t key : typed("V ,W\r"))
            screen.queue_key(key);
    });
    reader.enter_line("Mode", true, false);
    EXPECT_EQ(screen.cursor_position(), (CellPosition{1, 11}));
    Reference expected(1, 1, "Mode? V ,W");
    EXPECT_TRUE(same_pixels(screen, expected.screen));
    EXPECT_EQ(reader.read_text_field(), "V ");
    EXPECT_EQ(reader.read_text_field(), "W");
}

TEST(LineEditor, typed_line_replaces_a_channel_source)
{
    ErrorStatus status;
    Screen screen(status);
    ChannelTable channels(status);
    VirtualClock clock;
    FieldReader reader(status, screen, channels, clock);
    reader.use_line("1,2");
    clock.set_on_sleep([&](int64_t) { screen.queue_key(key_enter); });
    reader.enter_line("", false, true);
    EXPECT_EQ(reader.read_int_field(), 0);  // the empty line, not the old source
    EXPECT_EQ(reader.source_channel(), 0);
}

TEST(LineEditor, insertion_in_the_middle_redraws_the_tail)
{
    Editing e;
    e.screen.move_cursor(5, 1);
    EXPECT_EQ(e.edit(typed("12") + key_left + typed("3") + key_enter), "132");
    EXPECT_EQ(e.screen.cursor_position(), (CellPosition{5, 4}));
    Reference expected(5, 1, "132");
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, escape_empties_the_line_and_blanks_its_cells)
{
    Editing e;
    e.screen.move_cursor(3, 20);
    EXPECT_EQ(e.edit(typed("abcdef") + key_left + key_left + key_escape + key_enter), "");
    EXPECT_EQ(e.screen.cursor_position(), (CellPosition{3, 20}));
    Reference blank(3, 20, "");
    EXPECT_TRUE(same_pixels(e.screen, blank.screen));

    Editing again;
    EXPECT_EQ(again.edit(typed("abc") + key_escape + typed("xy") + key_enter), "xy");
    Reference expected(1, 1, "xy");
    EXPECT_TRUE(same_pixels(again.screen, expected.screen));
}

TEST(LineEditor, tab_inserts_spaces_to_the_next_multiple_of_eight)
{
    Editing e;
    EXPECT_EQ(e.edit(typed("abc") + key_tab + typed("x") + key_enter), "abc     x");
    Editing full;
    EXPECT_EQ(full.edit(typed("abcdefgh") + key_tab + typed("x") + key_enter), "abcdefgh        x");
    Editing front;
    EXPECT_EQ(front.edit(typed("ab") + key_home + key_tab + key_enter), "        ab");
    Reference expected(1, 1, "        ab");
    EXPECT_TRUE(same_pixels(front.screen, expected.screen));
}

TEST(LineEditor, delete_removes_under_the_mark_and_sounds_at_the_end)
{
    Editing e;
    EXPECT_EQ(e.edit(typed("abc") + key_delete + key_home + key_delete + key_enter), "bc");
    EXPECT_EQ(e.tones, 1);
    EXPECT_EQ(e.screen.cursor_position(), (CellPosition{1, 3}));
    Reference expected(1, 1, "bc");
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, backspace_removes_before_the_mark)
{
    Editing e;
    EXPECT_EQ(e.edit(typed("abc") + key_left + key_backspace + key_enter), "ac");
    Reference expected(1, 1, "ac");
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, keys_at_the_ends_of_the_line_change_nothing)
{
    Editing e;
    e.screen.move_cursor(2, 1);
    const auto script = typed("ab") + key_home + key_backspace + key_left + key_up + typed("x") + key_end +
                        key_right + key_down + typed("y") + key_enter;
    EXPECT_EQ(e.edit(script), "xaby");
    EXPECT_EQ(e.tones, 0);
    EXPECT_EQ(e.screen.cursor_position(), (CellPosition{2, 5}));
    Reference expected(2, 1, "xaby");
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, keys_outside_the_table_do_nothing)
{
    Editing e;
    const auto script = typed("a") + key_f1 + key_insert + key_page_up + key_close_window + 1u + 7u + 31u +
                        typed("b") + key_enter;
    EXPECT_EQ(e.edit(script), "ab");
    EXPECT_EQ(e.tones, 0);
}

TEST(LineEditor, line_feed_ends_the_entry_like_enter)
{
    Editing e;
    EXPECT_EQ(e.edit(typed("ab") + key_home + key_line_feed), "ab");
    EXPECT_EQ(e.screen.cursor_position(), (CellPosition{1, 3}));
}

TEST(LineEditor, up_and_down_move_by_one_grid_row)
{
    Editing e;
    const std::string base(150, 'a');
    const auto script = typed(base) + key_up + typed("X") + key_down + typed("Y") + key_home + key_up +
                        typed("Z") + key_enter;
    const std::string line = e.edit(script);
    std::string expected_line = base;
    expected_line.insert(50, "X");
    expected_line += "Y";
    expected_line.insert(0, "Z");
    EXPECT_EQ(line, expected_line);
    Reference expected(1, 1, expected_line);
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, line_that_wraps_past_the_last_row_scrolls)
{
    Editing e;
    e.screen.move_cursor(37, 95);
    EXPECT_EQ(e.edit(typed("abcdefghij") + key_enter), "abcdefghij");
    EXPECT_EQ(e.screen.cursor_position(), (CellPosition{37, 5}));
    Reference expected(37, 95, "abcdefghij");
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, line_ending_in_the_last_cell_scrolls_for_the_mark)
{
    Editing e;
    e.screen.move_cursor(37, 91);
    EXPECT_EQ(e.edit(typed("abcdefghij") + key_enter), "abcdefghij");
    EXPECT_EQ(e.screen.cursor_position(), (CellPosition{37, 1}));
    Reference expected(37, 91, "abcdefghij");
    expected.screen.finish_pending_line_end();
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, insertion_pushing_the_tail_past_the_bottom_keeps_the_cursor_after_it)
{
    Editing e;
    e.screen.move_cursor(37, 90);
    // The tab's seven spaces push the tail across the bottom edge; "Y" must land after them.
    const auto script = typed("abcdefghi") + key_home + typed("X") + key_tab + typed("Y") + key_enter;
    EXPECT_EQ(e.edit(script), "X       Yabcdefghi");
    EXPECT_EQ(e.screen.cursor_position(), (CellPosition{37, 8}));
    Reference expected(37, 90, "X       Yabcdefghi");
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, prompt_ending_in_the_last_cell_starts_the_line_on_a_new_row)
{
    ErrorStatus status;
    Screen screen(status);
    ChannelTable channels(status);
    VirtualClock clock;
    FieldReader reader(status, screen, channels, clock);
    prepare(screen);
    screen.move_cursor(37, 91);
    clock.set_on_sleep([&](int64_t) {
        screen.queue_key('5');
        screen.queue_key(key_enter);
    });
    reader.enter_line("0123456789", false, true);
    EXPECT_EQ(reader.read_int_field(), 5);
    Reference expected(37, 91, "0123456789");
    expected.screen.write_text("5", true);
    EXPECT_TRUE(same_pixels(screen, expected.screen));
    EXPECT_EQ(screen.cursor_position(), (CellPosition{37, 1}));
}

TEST(LineEditor, typed_character_255_shows_as_an_empty_cell)
{
    Editing e;
    EXPECT_EQ(e.edit(typed("a\xff") + key_left + key_left + key_end + key_enter), "a\xff");
    Reference expected(1, 1, "a ");
    EXPECT_TRUE(same_pixels(e.screen, expected.screen));
}

TEST(LineEditor, line_stops_growing_at_its_limit_with_the_tone)
{
    Editing e;
    const std::string line = e.edit(typed(std::string(line_editor_max_length + 5, 'q')) + key_home + key_tab +
                                    key_backspace + typed("r") + key_enter);
    EXPECT_EQ(e.tones, 7);  // five characters, the tab and the "r" refused
    ASSERT_EQ(line.size(), line_editor_max_length);
    EXPECT_EQ(line, std::string(line_editor_max_length, 'q'));  // Backspace at 0 did nothing either
    EXPECT_EQ(e.status.code(), 0);
}

TEST(LineEditor, editing_a_line_longer_than_the_grid_keeps_its_text)
{
    Editing e;
    e.screen.move_cursor(20, 50);
    const std::string base(5000, 'm');
    const auto script = typed(base) + key_home + typed("x") + key_end + typed("y") + key_up + key_up +
                        key_backspace + key_down + key_delete + key_left + typed("z") + key_end + key_delete +
                        key_enter;
    std::string expected_line = "x" + base + "y";  // 5002 characters
    expected_line.erase(4801, 1);  // two Ups from the end reach 4802; Backspace takes 4801
    expected_line.erase(4901, 1);  // Down from 4801 reaches 4901, still inside the line
    expected_line.insert(4900, "z");
    EXPECT_EQ(e.edit(script), expected_line);
    EXPECT_EQ(e.tones, 1);  // Delete at the end
}

// Applies the editing table to a plain string: the line's content must not
// depend on where its cells are on the screen.
struct LineModel {
    std::string line;
    size_t position = 0;

    void insert(const std::string& text)
    {
        if (line.size() + text.size() > line_editor_max_length)
            return;
        line.insert(position, text);
        position += text.size();
    }
    void apply(uint32_t key)
    {
        if (key >= 32 && key <= 255)
            insert(std::string(1, static_cast<char>(key)));
        else if (key == key_tab)
            insert(std::string(8 - position % 8, ' '));
        else if (key == key_backspace && position > 0)
            line.erase(--position, 1);
        else if (key == key_delete && position < line.size())
            line.erase(position, 1);
        else if (key == key_left && position > 0)
            --position;
        else if (key == key_right && position < line.size())
            ++position;
        else if (key == key_home)
            position = 0;
        else if (key == key_end)
            position = line.size();
        else if (key == key_up && position >= 100)
            position -= 100;
        else if (key == key_down && position + 100 <= line.size())
            position += 100;
        else if (key == key_escape) {
            line.clear();
            position = 0;
        }
    }
};

std::vector<uint32_t> random_keys(uint32_t seed, size_t count, int printable_percent)
{
    const std::vector<uint32_t> others = {key_tab,  key_backspace, key_delete, key_left,    key_right,
                                          key_home, key_end,       key_up,     key_down,    key_f1,
                                          key_insert, key_page_down, key_close_window, 1u,  27u};
    std::mt19937 random(seed);
    std::vector<uint32_t> keys;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t roll = static_cast<uint32_t>(random() % 100);
        if (roll < static_cast<uint32_t>(printable_percent)) {
            keys.push_back(static_cast<uint32_t>(32 + random() % 224));
        } else {
            uint32_t key = others[static_cast<size_t>(random() % others.size())];
            if (key == key_escape && random() % 8 != 0)
                key = key_left;  // keep erasing the whole line rare
            keys.push_back(key);
        }
    }
    return keys;
}

TEST(LineEditor, random_keys_leave_the_line_and_its_cells_consistent)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        const std::vector<uint32_t> keys = random_keys(seed, 2000, 45);
        LineModel model;
        for (uint32_t key : keys)
            model.apply(key);
        ASSERT_LT(model.line.size(), 3000u) << "the line must fit on the grid for the pixel comparison";

        Editing e;
        e.keys_per_wait = 1 + seed * 4;
        const std::string line = e.edit(keys + key_enter);
        EXPECT_EQ(line, model.line) << "seed " << seed;
        std::string shown = line;
        for (char& c : shown)
            if (c == '\xff')
                c = ' ';
        Reference expected(1, 1, shown);
        EXPECT_TRUE(same_pixels(e.screen, expected.screen)) << "seed " << seed;
        EXPECT_EQ(e.screen.cursor_position(), expected.screen.cursor_position()) << "seed " << seed;
    }
}

TEST(LineEditor, random_keys_on_lines_longer_than_the_grid_keep_the_text)
{
    const std::vector<uint32_t> keys = typed(std::string(4000, 'k')) + random_keys(7, 4000, 60);
    LineModel model;
    for (uint32_t key : keys)
        model.apply(key);
    Editing e;
    e.screen.move_cursor(30, 60);
    e.on_wait = [&e] {
        const CellPosition at = e.screen.cursor_position();
        EXPECT_TRUE(at.row >= 1 && at.row <= text_rows && at.column >= 1 && at.column <= text_columns);
    };
    EXPECT_EQ(e.edit(keys + key_enter), model.line);
}
