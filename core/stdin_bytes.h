// Standard input one byte at a time, whatever it is (a terminal or console, a
// pipe, a file): the logger's keys without a window, the scanner's key from a
// pipe. One file per platform: stdin_bytes_posix.cpp, stdin_bytes_win32.cpp.
#pragma once
#include <cstdint>

enum class StdinRead { byte, nothing, ended };

// Waits at most timeout_ms for one byte of standard input; `ended` at the end
// of input or when it cannot be read.
StdinRead read_stdin_byte(int32_t timeout_ms, uint8_t& next_byte);
