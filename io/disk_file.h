// The disk-file device behind a channel opened on a file name: a buffered byte
// stream with an 8192-byte full buffer, opened by the channel's mode and access.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/channels.h"

constexpr size_t disk_file_buffer_bytes = 8192;

// The name as this system's files are named: "\" and "/" both separate folders.
std::string native_file_name(std::string_view name);

// Opens the file for a channel. On success returns the device, sets the size
// measured at open and turns a default access into the access the file got.
// On failure returns null with the status (1 or 2) in status.
std::unique_ptr<ChannelDevice> open_disk_file(std::string_view name, int32_t mode, uint32_t& access, int64_t& size,
                                              int32_t& status);
// Creates the file for a channel in mode binary with read/write access, only
// when no entry of that name exists: a file that is there is never opened.
// On failure returns null with status 2; name_taken tells whether an entry of
// that name was in the way.
std::unique_ptr<ChannelDevice> create_new_disk_file(std::string_view name, int32_t& status, bool& name_taken);
