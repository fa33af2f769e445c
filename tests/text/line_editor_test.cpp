// Tests of the keyboard line editor: keys are queued on the screen whenever the
// editor waits, and what it leaves on the screen is compared with the same text
// written plainly on a second screen.
#include "text/line_editor.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "text_test_support.h"

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
    size_t keys_per_wait = 15;      // the queue holds fifteen
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
        std::string shown(text);
        for (char& c : shown)
            if (c == '\xff')
                c = ' ';  // its glyph is empty; written alone it would be the edit mark
        screen.write_text(shown, false);
    }
};

// A field reader on a screen in the logger's colours, for enter_line.
struct LineEditorPrompt : ::testing::Test, ReaderRig {
    LineEditorPrompt() { prepare(screen); }
};

// Whether the cell is blank or, with `mark`, shows the edit mark over a blank
// cell: only the bottom pixel line in the foreground colour.
bool cell_shows(Screen& screen, int32_t row, int32_t column, bool mark)
{
    for (int32_t y = 0; y < cell_height; ++y)
        for (int32_t x = 0; x < cell_width; ++x) {
            const uint8_t expected = mark && y == cell_height - 1 ? 0 : 15;
            if (screen.pixel((column - 1) * cell_width + x, (row - 1) * cell_height + y) != expected)
                return false;
        }
    return true;
}

}  // namespace

TEST_F(LineEditorPrompt, prompt_mark_and_enter_follow_the_cursor)
{
    screen.move_cursor(10, 10);

    std::vector<std::function<void()>> looks = {
        [&] {
            EXPECT_TRUE(cell_shows(screen, 10, 40, true));
            EXPECT_EQ(screen.cursor_position(), (CellPosition{10, 40}));
            screen.queue_key('3');
        },
        [&] {
            EXPECT_FALSE(cell_shows(screen, 10, 40, false));
            EXPECT_TRUE(cell_shows(screen, 10, 41, true));
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
    EXPECT_TRUE(cell_shows(screen, 10, 41, false));
    EXPECT_EQ(screen.cursor_position(), (CellPosition{11, 1}));
    Reference expected(10, 10, "Enter COM Port Number (1-10): 3");
    EXPECT_TRUE(same_pixels(screen, expected.screen));
    EXPECT_EQ(reader.read_int_field(), 3);
}

TEST_F(LineEditorPrompt, enter_line_adds_question_omits_line_end_and_replaces_the_source)
{
    reader.use_line("1,2");
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
    EXPECT_EQ(reader.read_text_field(), "");
}

struct EditCase {
    const char* name;
    CellPosition start;
    std::vector<uint32_t> keys;  // Enter follows
    std::string line;
    int tones = 0;
};

// After each script the screen must look as if the final line had been written
// plainly at the start (a line ending in the last cell has scrolled for the mark),
// with the cursor just after it.
TEST(LineEditor, edits_leave_the_line_and_its_cells_as_written_plainly)
{
    const std::vector<EditCase> cases = {
        {"insert in the middle", {5, 1}, typed("12") + key_left + typed("3"), "132"},
        {"backspace before the mark", {1, 1}, typed("abc") + key_left + key_backspace, "ac"},
        {"delete under the mark, tone at the end", {1, 1}, typed("abc") + key_delete + key_home + key_delete, "bc", 1},
        {"keys at the ends change nothing",
         {2, 1},
         typed("ab") + key_home + key_backspace + key_left + key_up + typed("x") + key_end + key_right + key_down +
             typed("y"),
         "xaby"},
        {"keys outside the table",
         {1, 1},
         typed("a") + key_f1 + key_insert + key_page_up + key_close_window + 1u + 7u + 31u + typed("b"),
         "ab"},
        {"tab from 3", {1, 1}, typed("abc") + key_tab + typed("x"), "abc     x"},
        {"tab from 8", {1, 1}, typed("abcdefgh") + key_tab + typed("x"), "abcdefgh        x"},
        {"tab at the front", {1, 1}, typed("ab") + key_home + key_tab, "        ab"},
        {"escape blanks the cells", {3, 20}, typed("abcdef") + key_left + key_left + key_escape, ""},
        {"escape then typing", {1, 1}, typed("abc") + key_escape + typed("xy"), "xy"},
        {"up and down by a grid row",
         {1, 1},
         typed(std::string(150, 'a')) + key_up + typed("X") + key_down + typed("Y") + key_home + key_up + typed("Z"),
         "Z" + std::string(50, 'a') + "X" + std::string(100, 'a') + "Y"},
        {"line feed ends like enter", {1, 1}, typed("ab") + key_home + key_line_feed, "ab"},
        {"character 255 shows as an empty cell", {1, 1}, typed("a\xff") + key_left + key_left + key_end, "a\xff"},
        {"wrap past the last row scrolls", {37, 95}, typed("abcdefghij"), "abcdefghij"},
        {"line ending in the last cell", {37, 91}, typed("abcdefghij"), "abcdefghij"},
        // The tab's seven spaces push the tail across the bottom edge; "Y" must land after them.
        {"insertion pushing the tail past the bottom",
         {37, 90},
         typed("abcdefghi") + key_home + typed("X") + key_tab + typed("Y"),
         "X       Yabcdefghi"},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        Editing e;
        e.screen.move_cursor(c.start.row, c.start.column);
        EXPECT_EQ(e.edit(c.keys + key_enter), c.line);
        EXPECT_EQ(e.tones, c.tones);
        Reference expected(c.start.row, c.start.column, c.line);
        expected.screen.finish_pending_line_end();
        EXPECT_TRUE(same_pixels(e.screen, expected.screen));
        EXPECT_EQ(e.screen.cursor_position(), expected.screen.cursor_position());
    }
}

// A move lands on cell index floor-split into row and column; a row of 0 (the
// row above the grid) keeps the cursor's row and takes the column, a row further
// up does not move it at all.
TEST(LineEditor, moves_before_the_first_cell_keep_the_row_and_set_the_column_one_row_up)
{
    struct Case {
        const char* name;
        size_t typed_from_home;  // characters typed from row 1, column 1
        std::vector<uint32_t> keys;
        CellPosition cursor;  // where the keys leave it
    } cases[] = {
        {"home with the start one row off the top", 3705, {key_home}, {37, 1}},
        {"left from the first cell with the start one row off the top",
         3700,
         std::vector<uint32_t>(36, key_up) + key_left,
         {1, 100}},
        {"home with the start two rows off the top", 3805, {key_home}, {37, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Editing e;
        CellPosition seen{};
        e.on_wait = [&e, &seen] {
            if (!e.keys.empty())
                return;
            seen = e.screen.cursor_position();  // the script is done: look, then end the line
            e.keys.push_back(key_enter);
        };
        e.edit(typed(std::string(c.typed_from_home, 'a')) + c.keys);
        EXPECT_EQ(seen, c.cursor);
    }
}

TEST_F(LineEditorPrompt, prompt_ending_in_the_last_cell_starts_the_line_on_a_new_row)
{
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
    const auto script = typed(base) + key_home + typed("x") + key_end + typed("y") + key_up + key_up + key_backspace +
                        key_down + key_delete + key_left + typed("z") + key_end + key_delete + key_enter;
    std::string expected_line = "x" + base + "y";  // 5002 characters
    expected_line.erase(4801, 1);                  // two Ups from the end reach 4802; Backspace takes 4801
    expected_line.erase(4901, 1);                  // Down from 4801 reaches 4901, still inside the line
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
    const std::vector<uint32_t> others = {key_tab,    key_backspace, key_delete,       key_left, key_right,
                                          key_home,   key_end,       key_up,           key_down, key_f1,
                                          key_insert, key_page_down, key_close_window, 1u,       27u};
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

TEST(LineEditor, random_keys_keep_line_and_cells_consistent)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        const std::vector<uint32_t> keys = random_keys(seed, 2000, 45);
        LineModel model;
        for (uint32_t key : keys)
            model.apply(key);
        ASSERT_LT(model.line.size(), 3000u) << "the line must fit on the grid for the pixel comparison";

        Editing e;
        e.keys_per_wait = 1 + seed * 4;
        EXPECT_EQ(e.edit(keys + key_enter), model.line);
        Reference expected(1, 1, model.line);
        EXPECT_TRUE(same_pixels(e.screen, expected.screen));
        EXPECT_EQ(e.screen.cursor_position(), expected.screen.cursor_position());
    }
}
