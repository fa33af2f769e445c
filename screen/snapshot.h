// Saves the screen as an uncompressed 8-bit BMP file (the run's picture).
#pragma once
#include <cstdint>
#include <string_view>

class Screen;
class ErrorStatus;

constexpr int64_t snapshot_file_size = 481078;

// Writes the frame buffer and palette to file_name; returns and sets the status:
// 0 written, 2 cannot be created, 3 a write failed.
int32_t save_snapshot(const Screen& screen, std::string_view file_name, ErrorStatus& status);
