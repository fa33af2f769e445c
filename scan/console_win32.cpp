// The scanner's console on Windows: WriteFile to the standard output handle
// (a text-mode stream would turn CR LF into CR CR LF), and standard input as
// console key events, or for a pipe or file any byte or the end of input.
#include "scan/console.h"

#include <memory>

// Lean: the full header declares a global `byte` type.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "core/stdin_bytes.h"

namespace {

enum class InputKind { console, readable, unreadable };

InputKind kind_of(HANDLE input)
{
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return InputKind::unreadable;
    DWORD mode = 0;
    switch (GetFileType(input)) {
    case FILE_TYPE_CHAR:
        return GetConsoleMode(input, &mode) ? InputKind::console : InputKind::readable;
    case FILE_TYPE_PIPE:
    case FILE_TYPE_DISK:
        return InputKind::readable;
    default:
        return InputKind::unreadable;
    }
}

bool is_modifier_or_lock(WORD virtual_key)
{
    switch (virtual_key) {
    case VK_SHIFT:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_CONTROL:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_MENU:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return true;
    default:
        return false;
    }
}

// What counts as the key: the press (not the release) of any key but a
// modifier or lock key alone. So a character key, Escape, Enter, an arrow or
// a function key ends the wait; Shift, Ctrl, Alt, the Windows keys, Caps
// Lock, Num Lock and Scroll Lock pressed alone do not. Mouse, focus and
// window-size events never do.
bool is_key_press(const INPUT_RECORD& record)
{
    return record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
           !is_modifier_or_lock(record.Event.KeyEvent.wVirtualKeyCode);
}

// Takes every waiting console event; a console that cannot be read ends the wait.
bool console_key_arrived(HANDLE input)
{
    bool pressed = false;
    for (;;) {
        DWORD waiting = 0;
        if (!GetNumberOfConsoleInputEvents(input, &waiting))
            return true;
        if (waiting == 0 || pressed)
            return pressed;
        INPUT_RECORD records[32];
        DWORD count = 0;
        DWORD wanted = waiting < 32 ? waiting : 32;
        if (!ReadConsoleInputA(input, records, wanted, &count) || count == 0)
            return true;
        for (DWORD i = 0; i < count && i < 32; ++i)
            pressed = pressed || is_key_press(records[i]);
    }
}

}  // namespace

void write_standard_output(const std::string& bytes)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return;
    size_t written = 0;
    while (written < bytes.size()) {
        size_t left = bytes.size() - written;
        DWORD chunk = left < 65536 ? DWORD(left) : DWORD(65536);
        DWORD count = 0;
        if (!WriteFile(output, bytes.data() + written, chunk, &count, nullptr) || count == 0)
            return;
        written += count;
    }
}

struct ConsoleKeys::State {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    InputKind kind = kind_of(input);
};

// Console key events reach the input queue whatever the console's line mode,
// so the console is left as it is.
ConsoleKeys::ConsoleKeys() : state_(std::make_unique<State>()) {}

ConsoleKeys::~ConsoleKeys() = default;

bool ConsoleKeys::key_arrived()
{
    switch (state_->kind) {
    case InputKind::console:
        return console_key_arrived(state_->input);
    case InputKind::readable: {
        // A pipe or a file: any byte, the end or a failure is the key.
        uint8_t next_byte = 0;
        return read_stdin_byte(0, next_byte) != StdinRead::nothing;
    }
    case InputKind::unreadable:
        break;
    }
    return true;
}
