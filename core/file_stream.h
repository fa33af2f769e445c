// Files as C streams, opened without ever waiting on them, and the few file
// system questions the disk files and the picture writer ask. One file per
// platform: file_stream_posix.cpp, file_stream_win32.cpp.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// Like std::fopen with stream_mode "r", "w" or "a" (with "+", "b" and, after
// "w", "x" as usual: "x" creates the file and fails with EEXIST when any entry
// of that name is already there), except that it never blocks and opens only what can be a file: a
// fifo or a socket is refused (an open of a fifo would wait for a partner for
// good), and so is a folder. Devices are opened as they are. Null on failure.
std::FILE* open_file_stream(const std::string& name, const char* stream_mode);

// The size on disk of the regular file behind the stream, buffered bytes not
// counted; -1 for anything else or when it cannot be had.
int64_t stream_file_size(std::FILE* stream);

// Waits until the system has stored the file's written bytes on its disk
// (the stream's own buffer must be flushed first); false when that failed.
bool sync_stream_file(std::FILE* stream);

// Cuts the file behind the stream to size bytes; false when that failed.
bool truncate_stream_file(std::FILE* stream, int64_t size);

// True when the folder holds an entry of that name, whatever it is (a link
// that leads nowhere counts too).
bool name_exists(const std::string& name);
