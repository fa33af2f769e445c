// Standard input on Windows, which may be a pipe, a file or a console: a pipe
// is read by a thread of its own that hands over one byte at a time, a file is
// read directly, and a console gives the characters of its key-down events
// (typed keys, as a window would get them).
// Lean: the full header declares a global `byte` type.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/stdin_bytes.h"

namespace {

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

// A pipe can only be read with a read that blocks until a byte comes (Wine
// cannot even peek into one that a Unix shell made), so a thread of its own
// reads it and hands over one byte at a time, reading the next only once that
// one was taken. The thread may still be blocked when the program ends: its
// state is never freed.
struct PipeReader {
    HANDLE input = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    bool has_byte = false;
    bool ended = false;
    uint8_t byte = 0;
};

void run_pipe_reader(PipeReader& reader)
{
    for (;;) {
        uint8_t byte = 0;
        const bool got = read_one_byte(reader.input, byte) == StdinRead::byte;
        std::unique_lock lock(reader.mutex);
        if (!got) {
            reader.ended = true;
            reader.changed.notify_all();
            return;
        }
        reader.byte = byte;
        reader.has_byte = true;
        reader.changed.notify_all();
        reader.changed.wait(lock, [&reader] { return !reader.has_byte; });
    }
}

// The reader of this pipe, started on first use; a new standard input gets a new one.
PipeReader& pipe_reader_for(HANDLE input)
{
    static std::mutex readers_mutex;
    static PipeReader* current = nullptr;
    std::lock_guard lock(readers_mutex);
    if (current != nullptr && current->input == input)
        return *current;
    current = new PipeReader;
    current->input = input;
    try {
        std::thread([reader = current] { run_pipe_reader(*reader); }).detach();
    } catch (const std::system_error&) {
        current->ended = true;
    }
    return *current;
}

StdinRead read_pipe_byte(HANDLE input, int32_t timeout_ms, uint8_t& byte)
{
    PipeReader& reader = pipe_reader_for(input);
    std::unique_lock lock(reader.mutex);
    const auto ready = [&reader] { return reader.has_byte || reader.ended; };
    if (!reader.changed.wait_for(lock, std::chrono::milliseconds(std::max(timeout_ms, 0)), ready))
        return StdinRead::nothing;
    if (!reader.has_byte)
        return StdinRead::ended;
    byte = reader.byte;
    reader.has_byte = false;
    reader.changed.notify_all();
    return StdinRead::byte;
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
