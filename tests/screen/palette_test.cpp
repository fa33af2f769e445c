// The default palette: the text colours and named entries, the grey ramp and hue rings' rule, and the
// palette as opaque ARGB pixels.
#include <gtest/gtest.h>

#include <algorithm>

#include "screen/screen.h"

namespace {

TEST(DefaultPalette, named_entries_have_their_colours_and_show_as_opaque_argb)
{
    struct Row {
        size_t index;
        PaletteEntry colour;
    };
    const Row rows[] = {
        {0, {0, 0, 0}},        {1, {0, 0, 170}},     {2, {0, 170, 0}},      {3, {0, 170, 170}},    {4, {170, 0, 0}},
        {5, {170, 0, 170}},    {6, {170, 85, 0}},    {7, {170, 170, 170}},  {8, {85, 85, 85}},     {9, {85, 85, 255}},
        {10, {85, 255, 85}},   {11, {85, 255, 255}}, {12, {255, 85, 85}},   {13, {255, 85, 255}},  {14, {255, 255, 85}},
        {15, {255, 255, 255}}, {16, {0, 0, 0}},      {23, {97, 97, 97}},    {31, {255, 255, 255}}, {32, {0, 0, 255}},
        {33, {64, 0, 255}},    {40, {255, 0, 0}},    {104, {0, 0, 113}},    {224, {44, 44, 64}},   {248, {0, 0, 0}},
        {255, {0, 0, 0}},      {55, {0, 64, 255}},   {56, {125, 125, 255}}, {176, {0, 0, 64}},     {247, {44, 48, 64}},
    };
    const Palette palette = default_palette();
    const ArgbColours argb = argb_colours(palette);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "entry " << row.index);
        EXPECT_EQ(palette[row.index], row.colour);
        EXPECT_EQ(argb[row.index],
                  0xFF000000u | uint32_t{row.colour.red} << 16 | uint32_t{row.colour.green} << 8 | row.colour.blue);
    }
}

// Greys rise from black to white. Each ring of 24 runs between its lowest and highest level through the
// corners blue, magenta, red, yellow, green and cyan, four entries apart, one channel changing per step.
TEST(DefaultPalette, greys_rise_and_each_hue_ring_turns_from_blue_through_red_and_green)
{
    const Palette palette = default_palette();
    for (size_t i = 17; i < 32; ++i) {
        EXPECT_EQ(palette[i].red, palette[i].green) << i;
        EXPECT_EQ(palette[i].green, palette[i].blue) << i;
        EXPECT_GT(palette[i].red, palette[i - 1].red) << i;
    }
    for (size_t ring = 32; ring < 248; ring += 24) {
        const uint8_t low = palette[ring].red, high = palette[ring].blue;
        EXPECT_LT(low, high) << ring;
        const PaletteEntry corners[] = {{low, low, high},  {high, low, high}, {high, low, low},
                                        {high, high, low}, {low, high, low},  {low, high, high}};
        for (size_t corner = 0; corner < 6; ++corner)
            EXPECT_EQ(palette[ring + 4 * corner], corners[corner]) << ring + 4 * corner;
        for (size_t i = ring; i < ring + 24; ++i) {
            const PaletteEntry &c = palette[i], &next = palette[i + 1 < ring + 24 ? i + 1 : ring];
            EXPECT_EQ(std::min({c.red, c.green, c.blue}), low) << i;
            EXPECT_EQ(std::max({c.red, c.green, c.blue}), high) << i;
            EXPECT_EQ((c.red != next.red) + (c.green != next.green) + (c.blue != next.blue), 1) << i;
        }
    }
}

}  // namespace
