// The screen's default 256-colour palette: sixteen text colours, a grey ramp,
// nine rings of 24 hues and eight blacks, built from 6-bit levels.
#include <algorithm>
#include <array>

#include "screen/screen.h"

namespace {

uint8_t widen_level(int level) { return static_cast<uint8_t>(level * 255 / 63); }

PaletteEntry from_levels(int red, int green, int blue)
{
    return {widen_level(red), widen_level(green), widen_level(blue)};
}

struct Levels {
    int red;
    int green;
    int blue;
};

constexpr std::array<Levels, 16> text_colour_levels{{
    {0, 0, 0},
    {0, 0, 42},
    {0, 42, 0},
    {0, 42, 42},
    {42, 0, 0},
    {42, 0, 42},
    {42, 21, 0},
    {42, 42, 42},
    {21, 21, 21},
    {21, 21, 63},
    {21, 63, 21},
    {21, 63, 63},
    {63, 21, 21},
    {63, 21, 63},
    {63, 63, 21},
    {63, 63, 63},
}};

constexpr std::array<int, 16> grey_levels{0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};

// Per ring, the five levels a0 < a1 < a2 < a3 < a4.
constexpr std::array<std::array<int, 5>, 9> ring_levels{{
    {0, 16, 31, 47, 63},
    {31, 39, 47, 55, 63},
    {45, 49, 54, 58, 63},
    {0, 7, 14, 21, 28},
    {14, 17, 21, 24, 28},
    {20, 22, 24, 26, 28},
    {0, 4, 8, 12, 16},
    {8, 10, 12, 14, 16},
    {11, 12, 13, 15, 16},
}};

// The 24 hues of a ring as indices into its five levels: blue, magenta, red,
// yellow, green, cyan and back towards blue.
constexpr std::array<std::array<int, 3>, 24> ring_hues{{
    {0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3}, {4, 0, 2}, {4, 0, 1},
    {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0},
    {0, 4, 0}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4},
}};

}  // namespace

Palette default_palette()
{
    Palette palette{};  // entries 248 to 255 stay black
    size_t index = 0;
    for (const Levels& levels : text_colour_levels)
        palette[index++] = from_levels(levels.red, levels.green, levels.blue);
    for (int level : grey_levels)
        palette[index++] = from_levels(level, level, level);
    for (const auto& ring : ring_levels)
        for (const auto& hue : ring_hues)
            palette[index++] = from_levels(ring[hue[0]], ring[hue[1]], ring[hue[2]]);
    return palette;
}

ArgbColours argb_colours(const Palette& palette)
{
    ArgbColours colours{};
    for (size_t i = 0; i < palette.size(); ++i) {
        const PaletteEntry& entry = palette[i];
        colours[i] = 0xFF000000u | (uint32_t{entry.red} << 16) | (uint32_t{entry.green} << 8) | entry.blue;
    }
    return colours;
}
