// Text to standard output from a thread of the program's own, whatever it is
// (a terminal, a pipe, a file). One file per platform: stdout_text_posix.cpp,
// stdout_text_win32.cpp.
#pragma once
#include <string_view>

// Writes all of the text; false when standard output takes no more (a closed
// pipe or terminal). A reader that went away never ends a program that
// ignores SIGPIPE, as the logger does (end_signals.h).
bool write_stdout_text(std::string_view text);
