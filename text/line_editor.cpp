// The keyboard line editor: an edit mark at the cursor, insertion and deletion
// with the tail of the line redrawn, and cursor moves in reading order over
// the text grid, until Enter or line feed.
#include "text/line_editor.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/clock.h"
#include "screen/screen.h"

namespace {

constexpr char edit_mark = '\xff';

constexpr uint32_t code_line_feed = 10;

struct LineEdit {
    Screen& screen;
    GridSize grid;
    std::string line;
    size_t position = 0;  // where the next character goes, 0 to line.size()
};

int64_t cell_count(const GridSize& grid) { return static_cast<int64_t>(grid.rows) * grid.columns; }

int64_t cell_index(const CellPosition& at, const GridSize& grid)
{
    return static_cast<int64_t>(at.row - 1) * grid.columns + (at.column - 1);
}

// Writes text that is already on the line. A lone byte 255 is how the edit mark
// is asked for, so a line character 255 (an empty glyph) is drawn as a space.
void write_cells(Screen& screen, std::string_view text)
{
    if (text.size() == 1 && text[0] == edit_mark)
        text = " ";
    screen.write_text(text, false);
}

// Puts the cursor on a cell index of the grid, split into row and column
// rounding towards minus infinity. One past the last cell scrolls the screen by
// a line end. Any other index goes to move_cursor as it is: the row above the
// grid is row 0, which keeps the cursor's row and sets only the column; rows
// further off the grid move nothing.
void move_to_cell(LineEdit& edit, int64_t index)
{
    if (index == cell_count(edit.grid)) {
        edit.screen.move_cursor(edit.grid.rows, edit.grid.columns);
        edit.screen.write_text({}, true);
        return;
    }
    const int64_t columns = edit.grid.columns;
    int64_t row = index / columns;
    int64_t column = index % columns;
    if (column < 0) {
        column += columns;
        --row;
    }
    // -1 and rows + 1 are off the grid as surely as anything beyond them.
    const int64_t row_number = std::clamp<int64_t>(row + 1, -1, int64_t{edit.grid.rows} + 1);
    edit.screen.move_cursor(static_cast<int32_t>(row_number), static_cast<int32_t>(column + 1));
}

void move_from(LineEdit& edit, const CellPosition& from, int64_t cells)
{
    move_to_cell(edit, cell_index(from, edit.grid) + cells);
}

void move_cursor_by(LineEdit& edit, int64_t cells) { move_from(edit, edit.screen.cursor_position(), cells); }

void sound_refusal(LineEdit& edit) { edit.screen.sound_tone(); }

void insert_text(LineEdit& edit, std::string_view inserted)
{
    const size_t old_length = edit.line.size();
    const size_t p = edit.position;
    const size_t n = inserted.size();
    if (n == 0)
        return;
    if (n > line_editor_max_length - old_length) {
        sound_refusal(edit);
        return;
    }
    const CellPosition before = edit.screen.cursor_position();
    edit.line.insert(p, inserted);
    const std::string_view tail = std::string_view(edit.line).substr(p);
    write_cells(edit.screen, tail);

    const int64_t tail_end = cell_index(before, edit.grid) + static_cast<int64_t>(tail.size());
    const auto inserted_cells = static_cast<int64_t>(n);
    if (p == old_length || tail_end <= cell_count(edit.grid)) {
        move_from(edit, before, inserted_cells);
    } else {
        // The write scrolled: its last character stands on the last row, and
        // the cursor goes back from just after it by the characters that followed the insertion.
        const int64_t columns = edit.grid.columns;
        const int64_t after_write = cell_count(edit.grid) - columns + (tail_end - 1) % columns + 1;
        move_to_cell(edit, after_write - static_cast<int64_t>(old_length - p));
    }
    edit.position = p + n;
}

void delete_text(LineEdit& edit, size_t count)
{
    const CellPosition before = edit.screen.cursor_position();
    edit.line.erase(edit.position, count);
    std::string redraw = edit.line.substr(edit.position);
    redraw.append(count, ' ');  // blanks the cells the shorter line no longer covers
    write_cells(edit.screen, redraw);
    edit.screen.move_cursor(before.row, before.column);
}

void insert_tab(LineEdit& edit)
{
    const size_t spaces = (edit.position + 8) / 8 * 8 - edit.position;
    insert_text(edit, std::string(spaces, ' '));
}

void backspace(LineEdit& edit)
{
    if (edit.position == 0)
        return;
    move_cursor_by(edit, -1);
    --edit.position;
    delete_text(edit, 1);
}

void delete_at_position(LineEdit& edit)
{
    if (edit.position < edit.line.size())
        delete_text(edit, 1);
    else
        edit.screen.sound_tone();
}

void move_left(LineEdit& edit)
{
    if (edit.position == 0)
        return;
    move_cursor_by(edit, -1);
    --edit.position;
}

void move_right(LineEdit& edit)
{
    if (edit.position >= edit.line.size())
        return;
    move_cursor_by(edit, 1);
    ++edit.position;
}

void move_home(LineEdit& edit)
{
    move_cursor_by(edit, -static_cast<int64_t>(edit.position));
    edit.position = 0;
}

void move_end(LineEdit& edit)
{
    move_cursor_by(edit, static_cast<int64_t>(edit.line.size() - edit.position));
    edit.position = edit.line.size();
}

void move_up(LineEdit& edit)
{
    const auto columns = static_cast<size_t>(edit.grid.columns);
    if (edit.position < columns)
        return;
    move_cursor_by(edit, -static_cast<int64_t>(columns));
    edit.position -= columns;
}

void move_down(LineEdit& edit)
{
    const auto columns = static_cast<size_t>(edit.grid.columns);
    if (edit.position + columns > edit.line.size())
        return;
    move_cursor_by(edit, static_cast<int64_t>(columns));
    edit.position += columns;
}

void erase_line(LineEdit& edit)
{
    move_cursor_by(edit, -static_cast<int64_t>(edit.position));
    edit.position = 0;
    if (!edit.line.empty())
        delete_text(edit, edit.line.size());
}

// Shows the edit mark at the cursor and leaves the cursor on it.
void draw_edit_mark(LineEdit& edit, const CellPosition& at)
{
    edit.screen.write_text(std::string_view(&edit_mark, 1), false);
    edit.screen.move_cursor(at.row, at.column);
}

// Puts back what the mark covered: the line's character there, or a space at the end.
void remove_edit_mark(LineEdit& edit, const CellPosition& at)
{
    const char covered = edit.position < edit.line.size() ? edit.line[edit.position] : ' ';
    write_cells(edit.screen, std::string_view(&covered, 1));
    edit.screen.move_cursor(at.row, at.column);
}

// Sleeps in 25 ms steps until a key is queued, then takes its code: the
// character, or an extended key's code times 256 plus 255. Nothing when the key text was empty.
std::optional<uint32_t> wait_for_key(Screen& screen, Clock& clock)
{
    while (!screen.key_waiting())
        clock.sleep_ms(line_editor_poll_ms);
    const std::string key = screen.poll_key();
    if (key.empty())
        return std::nullopt;
    if (key.size() >= 2)
        return static_cast<uint8_t>(key[1]) * 256u + 255u;
    return static_cast<uint8_t>(key[0]);
}

void act_on_key(LineEdit& edit, uint32_t code)
{
    if (code >= 32 && code <= 255) {
        const char c = static_cast<char>(code);
        insert_text(edit, std::string_view(&c, 1));
        return;
    }
    switch (code) {
    case key_tab:
        insert_tab(edit);
        break;
    case key_backspace:
        backspace(edit);
        break;
    case key_delete:
        delete_at_position(edit);
        break;
    case key_left:
        move_left(edit);
        break;
    case key_right:
        move_right(edit);
        break;
    case key_home:
        move_home(edit);
        break;
    case key_end:
        move_end(edit);
        break;
    case key_up:
        move_up(edit);
        break;
    case key_down:
        move_down(edit);
        break;
    case key_escape:
        erase_line(edit);
        break;
    default:
        break;  // other keys do nothing
    }
}

}  // namespace

std::string edit_line(Screen& screen, Clock& clock)
{
    // A prompt that ended in the last cell of the grid owes a line end; the
    // line starts where the next character would go, not under the prompt.
    screen.finish_pending_line_end();
    LineEdit edit{screen, screen.text_grid_size(), {}, 0};
    for (;;) {
        const CellPosition at = screen.cursor_position();
        draw_edit_mark(edit, at);
        const std::optional<uint32_t> key = wait_for_key(screen, clock);
        if (!key)
            continue;  // nothing was taken after all: show the mark again and wait on
        const uint32_t code = *key;
        remove_edit_mark(edit, at);
        if (code == key_enter || code == code_line_feed) {
            move_cursor_by(edit, static_cast<int64_t>(edit.line.size() - edit.position));
            return std::move(edit.line);
        }
        act_on_key(edit, code);
    }
}
