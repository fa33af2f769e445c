// Standard input on Windows, which may be a pipe, a file or a console: a pipe
// is peeked until a byte is there, a file is read, and a console gives the
// characters of its key-down events (typed keys, as a window would get them).
// Lean: the full header declares a global `byte` type.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>

#include "gfx/stdin_keys.h"

namespace {

constexpr int32_t pipe_poll_ms = 5;

StdinRead read_one_byte(HANDLE input, uint8_t& byte)
{
    DWORD count = 0;
    char read_byte = 0;
    // Zero bytes from a file is its end; a failure (a broken pipe among them) ends input too.
    if (!ReadFile(input, &read_byte, 1, &count, nullptr) || count != 1)
        return StdinRead::ended;
    byte = static_cast<uint8_t>(read_byte);
    return StdinRead::byte;
}

// A pipe cannot be waited on: look at what is waiting every few milliseconds.
StdinRead read_pipe_byte(HANDLE input, int32_t timeout_ms, uint8_t& byte)
{
    int32_t waited_ms = 0;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr))
            return StdinRead::ended;  // the writer has gone and everything was read
        if (available > 0)
            return read_one_byte(input, byte);
        if (waited_ms >= timeout_ms)
            return StdinRead::nothing;
        const int32_t step_ms = std::min(pipe_poll_ms, timeout_ms - waited_ms);
        Sleep(static_cast<DWORD>(step_ms));
        waited_ms += step_ms;
    }
}

// One console input event; a key going down with a character gives that byte
// (Enter gives 13), everything else (key releases, mouse, focus) nothing.
StdinRead read_console_byte(HANDLE input, int32_t timeout_ms, uint8_t& byte)
{
    const DWORD waited = WaitForSingleObject(input, static_cast<DWORD>(std::max(timeout_ms, 0)));
    if (waited == WAIT_TIMEOUT)
        return StdinRead::nothing;
    if (waited != WAIT_OBJECT_0)
        return StdinRead::ended;
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!ReadConsoleInputA(input, &record, 1, &count))
        return StdinRead::ended;
    if (count != 1 || record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
        return StdinRead::nothing;
    const char character = record.Event.KeyEvent.uChar.AsciiChar;
    if (character == 0)
        return StdinRead::nothing;
    byte = static_cast<uint8_t>(character);
    return StdinRead::byte;
}

}  // namespace

StdinRead read_stdin_byte(int32_t timeout_ms, uint8_t& byte)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return StdinRead::ended;  // a program started without standard input
    switch (GetFileType(input)) {
    case FILE_TYPE_PIPE:
        return read_pipe_byte(input, timeout_ms, byte);
    case FILE_TYPE_DISK:
        return read_one_byte(input, byte);
    case FILE_TYPE_CHAR: {
        DWORD mode = 0;
        if (GetConsoleMode(input, &mode))
            return read_console_byte(input, timeout_ms, byte);
        return read_one_byte(input, byte);  // a device such as NUL
    }
    default:
        return StdinRead::ended;
    }
}
