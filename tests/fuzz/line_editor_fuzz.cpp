// Fuzzes the keyboard line editor with arbitrary key sequences: every byte is a
// key, and byte 255 followed by a code is the extended key of that code. Input:
// the starting row and column, then the keys; Enter ends a line and the next
// line starts where the cursor is, so one input may edit several lines.
// Properties: each returned line is what a plain model of the editing keys
// gives; lines stay within the editor's length; the cursor stays on the grid.
#include <cstdint>
#include <deque>
#include <string>

#include "core/clock.h"
#include "fuzz_check.h"
#include "screen/screen.h"
#include "text/line_editor.h"

namespace {

// The line and edit position as the keys should leave them, without the screen.
struct LineModel {
    std::string line;
    size_t position = 0;

    void insert(const std::string& text)
    {
        if (text.size() > line_editor_max_length - line.size())
            return;
        line.insert(position, text);
        position += text.size();
    }

    void act(uint32_t code)
    {
        const size_t columns = text_columns;
        if (code >= 32 && code <= 255) {
            insert(std::string(1, static_cast<char>(code)));
        } else if (code == key_tab) {
            insert(std::string((position + 8) / 8 * 8 - position, ' '));
        } else if (code == key_backspace) {
            if (position > 0)
                line.erase(--position, 1);
        } else if (code == key_delete) {
            if (position < line.size())
                line.erase(position, 1);
        } else if (code == key_left) {
            if (position > 0)
                --position;
        } else if (code == key_right) {
            if (position < line.size())
                ++position;
        } else if (code == key_home) {
            position = 0;
        } else if (code == key_end) {
            position = line.size();
        } else if (code == key_up) {
            if (position >= columns)
                position -= columns;
        } else if (code == key_down) {
            if (position + columns <= line.size())
                position += columns;
        } else if (code == key_escape) {
            line.clear();
            position = 0;
        }
    }
};

bool ends_line(uint32_t code) { return code == key_enter || code == 10; }

std::deque<uint32_t> keys_of(const uint8_t* data, size_t size)
{
    std::deque<uint32_t> keys;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 255 && i + 1 < size)
            keys.push_back(extended_key(data[++i]));
        else if (data[i] != 0)  // no key has code 0
            keys.push_back(data[i]);
    }
    keys.push_back(key_enter);
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static ErrorStatus status;
    static Screen screen{status};
    static VirtualClock clock;
    screen.reset_to_opened_state();
    screen.move_cursor(1 + data[0] % text_rows, 1 + data[1] % text_columns);

    // The editor sleeps only while no key waits; each sleep gets the next key.
    std::deque<uint32_t> keys = keys_of(data + 2, size - 2);
    std::deque<uint32_t> typed = keys;
    clock.set_on_sleep([&](int64_t) {
        FUZZ_CHECK(!keys.empty());  // the editor asked for a key after the last Enter
        screen.queue_key(keys.front());
        keys.pop_front();
    });

    while (!keys.empty()) {
        LineModel model;
        while (!typed.empty() && !ends_line(typed.front())) {
            model.act(typed.front());
            typed.pop_front();
        }
        typed.pop_front();
        const std::string line = edit_line(screen, clock);
        FUZZ_CHECK(line.size() <= line_editor_max_length);
        FUZZ_CHECK(line == model.line);
        const CellPosition cursor = screen.cursor_position();
        FUZZ_CHECK(cursor.row >= 1 && cursor.row <= text_rows && cursor.column >= 1 && cursor.column <= text_columns);
    }
    clock.set_on_sleep({});
    return 0;
}
