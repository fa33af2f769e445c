// Line and box drawing: exact pixels of the walks, rounding, clipping, the
// style mask, colours, change marks, and hostile coordinates.
#include "screen/draw_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include "screen/screen.h"
#include "screen_test_support.h"

namespace {

using Pixels = std::set<std::pair<int32_t, int32_t>>;

struct DrawLineTest : ::testing::Test {
    ErrorStatus status;
    Screen screen{status};

    void line(float x1, float y1, float x2, float y2, int32_t colour = 7)
    {
        draw_line(screen, x1, y1, x2, y2, colour, LineKind::line, style_solid);
    }

    // Every pixel that is no longer the background 0.
    Pixels drawn() const
    {
        Pixels pixels;
        for (int32_t y = 0; y < screen_height; ++y)
            for (int32_t x = 0; x < screen_width; ++x)
                if (screen.pixel(x, y) != 0)
                    pixels.insert({x, y});
        return pixels;
    }

    // Every row with a pixel drawn is marked changed, and no row outside their span; none if none was drawn.
    void expect_marks_on_rows_of(const Pixels& pixels) const
    {
        int32_t first = screen_height, last = -1;
        for (const auto& pixel : pixels) {
            first = std::min(first, pixel.second);
            last = std::max(last, pixel.second);
            EXPECT_TRUE(screen.row_changed(pixel.second)) << pixel.second;
        }
        for (int32_t y = 0; y < screen_height; ++y)
            EXPECT_TRUE(!screen.row_changed(y) || (y >= first && y <= last)) << "row " << y;
    }
};

// The count pixels from (x, y) on in steps of (dx, dy), added to more.
Pixels run(int32_t x, int32_t y, int32_t dx, int32_t dy, int32_t count, Pixels more = {})
{
    for (int32_t i = 0; i < count; ++i)
        more.insert({x + i * dx, y + i * dy});
    return more;
}

// Each row is drawn on a fresh screen. A row with a count draws that many pixels, among them the ones
// listed; one without draws exactly the pixels listed.
TEST_F(DrawLineTest, lines_and_boxes_draw_exactly_their_pixels_and_mark_their_rows)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr LineKind segment = LineKind::line, outline = LineKind::box_outline;
    struct Row {
        const char* name;
        float x1, y1, x2, y2;
        Pixels pixels;
        size_t count = 0;
        LineKind kind = LineKind::line;
        uint16_t style = style_solid;
    };
    const Row rows[] = {
        {"horizontal", 40, 50, 760, 50, run(40, 50, 1, 0, 721)},
        {"vertical", 40, 50, 40, 550, run(40, 50, 0, 1, 501)},
        {"vertical upward", 100, 590, 100, 585, run(100, 585, 0, 1, 6)},
        {"slanted", 0, 0, 2, 1, {{0, 0}, {1, 1}, {2, 1}}},
        {"slanted reversed: other pixels", 2, 1, 0, 0, {{2, 1}, {1, 0}, {0, 0}}},
        {"shallow", 700, 20, 500, 30, {{700, 20}, {500, 30}}, 201},
        // Short traces between two columns split their segments between them.
        {"trace 0", 100, 300, 99, 300, {{99, 300}, {100, 300}}},
        {"trace 1", 100, 300, 99, 301, {{100, 300}, {99, 301}}},
        {"trace 2", 100, 300, 99, 302, {{100, 300}, {99, 301}, {99, 302}}},
        {"trace 3", 100, 300, 99, 303, run(100, 300, 0, 1, 2, run(99, 302, 0, 1, 2))},
        {"trace 4", 100, 300, 99, 304, run(100, 300, 0, 1, 2, run(99, 302, 0, 1, 3))},
        {"trace -3", 100, 300, 99, 297, run(100, 299, 0, 1, 2, run(99, 297, 0, 1, 2))},
        // Coordinates round halves away from zero.
        {"2.5 rounds up", 2.5f, 10, 2.5f, 10, {{3, 10}}},
        {"2.49 rounds down", 2.49f, 10.5f, 2.49f, 10.5f, {{2, 11}}},
        {"-2.5 becomes -3: from -2 it would enter at row 2", -2.5f, 0, 3.5f, 7, run(0, 3, 1, 1, 5)},
        {"just below a half, which float arithmetic rounds up", 0.49999997f, 5, 0.49999997f, 5, {{0, 5}}},
        // The style mask runs from the first point given; upward, it starts again 16 pixels on.
        {"style", 10, 20, 25, 20, {{10, 20}, {11, 20}}, 0, segment, 0xC000},
        {"style reversed", 25, 20, 10, 20, {{25, 20}, {24, 20}}, 0, segment, 0xC000},
        {"style upward", 30, 50, 30, 30, {{30, 50}, {30, 49}, {30, 34}, {30, 33}}, 0, segment, 0xC000},
        {"style slanted", 0, 0, 17, 1, {{0, 0}, {15, 1}, {16, 1}}, 0, segment, 0x8001},
        // Clipping keeps the visible part.
        {"clipped horizontal", -100, 100, 100, 100, run(0, 100, 1, 0, 101)},
        {"clipped vertical", 400, -50, 400, 650, run(400, 0, 0, 1, 600)},
        {"diagonal entering at the corner", -10, -10, 10, 10, run(0, 0, 1, 1, 11)},
        {"left end clipped, then the bottom, which starts the walk", -100, 400, 100, 700, {{32, 599}, {0, 550}}, 50},
        {"box, ends in either order", 760, 590, 40, 580,
         run(40, 580, 1, 0, 721, run(40, 590, 1, 0, 721, run(40, 581, 0, 1, 9, run(760, 581, 0, 1, 9)))), 0, outline},
        {"box partly off screen: only its visible edges", -10, 590, 20, 700,
         run(0, 590, 1, 0, 21, run(20, 590, 0, 1, 10)), 0, outline},
        {"wholly left", -10, -10, -1, 500, {}},
        {"wholly right", 800, 0, 900, 599, {}},
        {"wholly below", 0, 600, 799, 700, {}},
        {"box wholly left", -50, 10, -1, 20, {}, 0, outline},
        {"box wholly below", 10, 600, 20, 610, {}, 0, outline},
        // Hostile coordinates draw what their clamped values give.
        {"NaN start", nan, 0, 10, 10, {}},
        {"NaN end", 0, 0, 10, nan, {}},
        {"NaN box", nan, nan, nan, nan, {}, 0, outline},
        {"infinite ends", -inf, 100, inf, 100, run(0, 100, 1, 0, 800)},
        {"crossing the screen only at its corner", 1e30f, -1e30f, -1e30f, 1e30f, {{0, 0}}},
        {"far off to the right", 3e38f, 3e38f, 3e38f, -3e38f, {}},
        {"infinitely wide box", -inf, 10, inf, 20, run(0, 10, 1, 0, 800, run(0, 20, 1, 0, 800)), 0, outline},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        screen.reset_to_opened_state();
        clear_change_marks(screen);
        draw_line(screen, row.x1, row.y1, row.x2, row.y2, 7, row.kind, row.style);
        const Pixels pixels = drawn();
        if (row.count == 0) {
            EXPECT_EQ(pixels, row.pixels);
        } else {
            EXPECT_EQ(pixels.size(), row.count);
            EXPECT_TRUE(std::includes(pixels.begin(), pixels.end(), row.pixels.begin(), row.pixels.end()));
        }
        if (row.style == style_solid)  // a styled walk may mark the rows of its gaps too
            expect_marks_on_rows_of(pixels);
    }
    screen.reset_to_opened_state();
    draw_line(screen, -inf, -inf, inf, inf, 7, LineKind::box_outline, style_solid);  // every edge off screen
    EXPECT_TRUE(drawn().empty());
}

TEST_F(DrawLineTest, steep_walk_covers_each_major_step_once)
{
    line(10, 10, 13, 100);
    const Pixels steep = drawn();
    EXPECT_EQ(steep.size(), 91u);
    for (int32_t y = 10; y <= 100; ++y) {
        int32_t in_row = 0;
        for (int32_t x = 10; x <= 13; ++x)
            in_row += steep.count({x, y}) ? 1 : 0;
        EXPECT_EQ(in_row, 1) << "row " << y;
    }
}

TEST_F(DrawLineTest, box_outline_leaves_its_inside_alone)
{
    for (int32_t y = 581; y <= 589; ++y)
        line(41, static_cast<float>(y), 759, static_cast<float>(y), 14);
    draw_line(screen, 760, 590, 40, 580, 7, LineKind::box_outline, style_solid);
    for (int32_t y = 581; y <= 589; ++y)
        for (int32_t x = 41; x <= 759; ++x)
            ASSERT_EQ(screen.pixel(x, y), 14) << x << "," << y;
}

TEST_F(DrawLineTest, colour_keeps_only_its_low_byte)
{
    line(5, 5, 6, 5, 260);
    EXPECT_EQ(screen.pixel(5, 5), 4);
    line(5, 6, 6, 6, -1);
    EXPECT_EQ(screen.pixel(5, 6), 255);
}

}  // namespace
