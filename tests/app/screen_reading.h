// Reads text back off the frame buffer by matching cells against the font.
#pragma once
#include <cstdint>
#include <string>

class Screen;

// The printable characters (32-126) drawn in `foreground` on white at the
// cells from (row, column); '?' for a cell that matches none.
std::string text_at(const Screen& screen, int32_t row, int32_t column, int32_t length, uint8_t foreground);
// True when the whole cell is white.
bool cell_is_blank(const Screen& screen, int32_t row, int32_t column);
