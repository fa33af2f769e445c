// Opening a named file as a C stream without ever waiting on it: shared by the
// disk-file channels and the picture writer.
#pragma once
#include <cstdio>
#include <string>

// Like std::fopen with stream_mode "r", "w" or "a" (with "+" and "b" as
// usual), except that it never blocks and opens only what can be a file: a
// fifo or a socket is refused (an open of a fifo would wait for a partner for
// good), and so is a folder. Devices are opened as they are. Null on failure.
std::FILE* open_file_stream(const std::string& name, const char* stream_mode);
