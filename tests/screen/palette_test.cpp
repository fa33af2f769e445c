// The default palette: the text colours, the grey ramp, the hue rings, the blacks.
#include <gtest/gtest.h>

#include <vector>

#include "screen/screen.h"

namespace {

struct Expected {
    size_t index;
    PaletteEntry colour;
};

void expect_entries(const Palette& palette, std::initializer_list<Expected> table)
{
    for (const Expected& e : table) {
        const PaletteEntry& got = palette[e.index];
        EXPECT_EQ(got, e.colour) << "entry " << e.index << " is (" << int(got.red) << ", " << int(got.green) << ", "
                                 << int(got.blue) << ")";
    }
}

TEST(DefaultPalette, text_colours_0_to_15)
{
    expect_entries(default_palette(), {{0, {0, 0, 0}},
                                       {1, {0, 0, 170}},
                                       {2, {0, 170, 0}},
                                       {3, {0, 170, 170}},
                                       {4, {170, 0, 0}},
                                       {5, {170, 0, 170}},
                                       {6, {170, 85, 0}},
                                       {7, {170, 170, 170}},
                                       {8, {85, 85, 85}},
                                       {9, {85, 85, 255}},
                                       {10, {85, 255, 85}},
                                       {11, {85, 255, 255}},
                                       {12, {255, 85, 85}},
                                       {13, {255, 85, 255}},
                                       {14, {255, 255, 85}},
                                       {15, {255, 255, 255}}});
}

TEST(DefaultPalette, grey_ramp_16_to_31)
{
    const Palette palette = default_palette();
    const uint8_t greys[16] = {0, 20, 32, 44, 56, 68, 80, 97, 113, 129, 145, 161, 182, 202, 226, 255};
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(palette[16 + i], (PaletteEntry{greys[i], greys[i], greys[i]})) << "entry " << 16 + i;
}

TEST(DefaultPalette, hue_rings_start_with_blue_and_run_through_red)
{
    expect_entries(default_palette(), {{32, {0, 0, 255}},
                                       {33, {64, 0, 255}},
                                       {36, {255, 0, 255}},
                                       {40, {255, 0, 0}},
                                       {44, {255, 255, 0}},
                                       {48, {0, 255, 0}},
                                       {52, {0, 255, 255}},
                                       {55, {0, 64, 255}},
                                       {56, {125, 125, 255}},
                                       {104, {0, 0, 113}},
                                       {176, {0, 0, 64}},
                                       {224, {44, 44, 64}},
                                       {247, {44, 48, 64}}});
}

TEST(DefaultPalette, entries_248_to_255_are_black)
{
    const Palette palette = default_palette();
    for (size_t i = 248; i < 256; ++i)
        EXPECT_EQ(palette[i], (PaletteEntry{0, 0, 0})) << "entry " << i;
}

// What the window shows: each index through the palette as an opaque ARGB pixel.
TEST(ArgbColours, each_index_becomes_its_palette_colour_opaque)
{
    const ArgbColours colours = argb_colours(default_palette());
    EXPECT_EQ(colours[0], 0xFF000000u);
    EXPECT_EQ(colours[4], 0xFFAA0000u);
    EXPECT_EQ(colours[14], 0xFFFFFF55u);
    EXPECT_EQ(colours[32], 0xFF0000FFu);
}

}  // namespace
