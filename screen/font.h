// The 8x16 code page 437 glyphs. Byte i is pixel line i of the cell from the top;
// bit b (0 = least significant) is pixel column b from the left. The table is
// generated at build time from the console font of the system (see font_gen.cpp).
#pragma once
#include <array>
#include <cstdint>

using Glyph = std::array<uint8_t, 16>;
extern const std::array<Glyph, 256> vga_font_8x16;
