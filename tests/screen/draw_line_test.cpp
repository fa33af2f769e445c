// Line and box drawing: exact pixels of the walks, rounding, clipping, the
// style mask, colours, change marks, and hostile coordinates.
#include "screen/draw_line.h"

#include <gtest/gtest.h>

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

    void line(float x1, float y1, float x2, float y2, int32_t colour = 7, uint16_t style = style_solid)
    {
        draw_line(screen, x1, y1, x2, y2, colour, LineKind::line, style);
    }

    void box(float x1, float y1, float x2, float y2, int32_t colour = 7)
    {
        draw_line(screen, x1, y1, x2, y2, colour, LineKind::box_outline, style_solid);
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

    void clear_marks() { clear_change_marks(screen); }
};

TEST_F(DrawLineTest, horizontal_run_sets_every_pixel_between_the_ends)
{
    clear_marks();
    line(40, 50, 760, 50);
    const Pixels pixels = drawn();
    EXPECT_EQ(pixels.size(), 721u);
    EXPECT_TRUE(pixels.count({40, 50}) && pixels.count({760, 50}));
    EXPECT_EQ(screen.pixel(400, 50), 7);
    EXPECT_TRUE(screen.row_changed(50));
    EXPECT_FALSE(screen.row_changed(49) || screen.row_changed(51));
}

TEST_F(DrawLineTest, vertical_runs_in_either_direction)
{
    line(40, 50, 40, 550);
    EXPECT_EQ(drawn().size(), 501u);
    clear_marks();
    line(100, 590, 100, 585, 9);
    for (int32_t y = 585; y <= 590; ++y)
        EXPECT_EQ(screen.pixel(100, y), 9);
    EXPECT_EQ(screen.pixel(100, 584), 0);
    EXPECT_EQ(screen.pixel(100, 591), 0);
    EXPECT_TRUE(screen.row_changed(585) && screen.row_changed(590));
    EXPECT_FALSE(screen.row_changed(584) || screen.row_changed(591));
}

TEST_F(DrawLineTest, slanted_line_and_its_reverse_choose_different_pixels)
{
    line(0, 0, 2, 1);
    EXPECT_EQ(drawn(), (Pixels{{0, 0}, {1, 1}, {2, 1}}));
    screen.reset_to_opened_state();
    line(2, 1, 0, 0);
    EXPECT_EQ(drawn(), (Pixels{{2, 1}, {1, 0}, {0, 0}}));
}

TEST_F(DrawLineTest, trace_segments_split_between_the_two_columns)
{
    struct Case {
        int32_t n;
        Pixels pixels;
    };
    const Case cases[] = {
        {0, {{99, 300}, {100, 300}}},
        {1, {{100, 300}, {99, 301}}},
        {2, {{100, 300}, {99, 301}, {99, 302}}},
        {3, {{100, 300}, {100, 301}, {99, 302}, {99, 303}}},
        {4, {{100, 300}, {100, 301}, {99, 302}, {99, 303}, {99, 304}}},
        {-3, {{100, 300}, {100, 299}, {99, 298}, {99, 297}}},
    };
    for (const Case& c : cases) {
        screen.reset_to_opened_state();
        line(100, 300, 99, static_cast<float>(300 + c.n));
        EXPECT_EQ(drawn(), c.pixels) << "n = " << c.n;
    }
}

TEST_F(DrawLineTest, steep_and_shallow_walks_cover_each_major_step_once)
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
    screen.reset_to_opened_state();
    line(700, 20, 500, 30);
    EXPECT_EQ(drawn().size(), 201u);
    EXPECT_EQ(screen.pixel(700, 20), 7);
    EXPECT_EQ(screen.pixel(500, 30), 7);
}

TEST_F(DrawLineTest, box_outline_leaves_its_inside_alone)
{
    // Fill the inside first with a colour the box must not touch.
    for (int32_t y = 581; y <= 589; ++y)
        line(41, static_cast<float>(y), 759, static_cast<float>(y), 14);
    clear_marks();
    box(760, 590, 40, 580);
    const Pixels pixels = drawn();
    EXPECT_EQ(pixels.size(), 1460u + 719u * 9u);
    for (int32_t x = 40; x <= 760; ++x) {
        EXPECT_EQ(screen.pixel(x, 580), 7);
        EXPECT_EQ(screen.pixel(x, 590), 7);
    }
    for (int32_t y = 580; y <= 590; ++y) {
        EXPECT_EQ(screen.pixel(40, y), 7);
        EXPECT_EQ(screen.pixel(760, y), 7);
    }
    EXPECT_EQ(screen.pixel(41, 581), 14);
    EXPECT_EQ(screen.pixel(759, 589), 14);
    EXPECT_TRUE(screen.row_changed(580) && screen.row_changed(590));
    EXPECT_FALSE(screen.row_changed(579) || screen.row_changed(591));
}

TEST_F(DrawLineTest, box_partly_off_screen_draws_only_its_visible_edges)
{
    box(-10, 590, 20, 700);
    // Top edge y 590 from x 0 to 20 and the right edge x 20 from 590 to 599.
    Pixels expected;
    for (int32_t x = 0; x <= 20; ++x)
        expected.insert({x, 590});
    for (int32_t y = 590; y <= 599; ++y)
        expected.insert({20, y});
    EXPECT_EQ(drawn(), expected);
}

TEST_F(DrawLineTest, coordinates_round_halves_away_from_zero)
{
    line(2.5f, 10, 2.5f, 10);
    EXPECT_EQ(drawn(), (Pixels{{3, 10}}));
    screen.reset_to_opened_state();
    line(2.49f, 10.5f, 2.49f, 10.5f);
    EXPECT_EQ(drawn(), (Pixels{{2, 11}}));
    // -2.5 becomes -3, seen where the line meets the left border: from -2 it
    // would enter at row 2.
    screen.reset_to_opened_state();
    line(-2.5f, 0, 3.5f, 7);
    EXPECT_EQ(drawn(), (Pixels{{0, 3}, {1, 4}, {2, 5}, {3, 6}, {4, 7}}));
    screen.reset_to_opened_state();
    line(0.49999997f, 5, 0.49999997f, 5);  // would round up in float arithmetic
    EXPECT_EQ(drawn(), (Pixels{{0, 5}}));
}

TEST_F(DrawLineTest, colour_keeps_only_its_low_byte)
{
    line(5, 5, 6, 5, 260);
    EXPECT_EQ(screen.pixel(5, 5), 4);
    line(5, 6, 6, 6, -1);
    EXPECT_EQ(screen.pixel(5, 6), 255);
}

TEST_F(DrawLineTest, lines_and_boxes_wholly_outside_draw_nothing)
{
    clear_marks();
    line(-10, -10, -1, 500);
    line(800, 0, 900, 599);
    line(0, 600, 799, 700);
    box(-50, 10, -1, 20);
    box(10, 600, 20, 610);
    EXPECT_TRUE(drawn().empty());
    EXPECT_FALSE(clear_change_marks(screen));
}

TEST_F(DrawLineTest, clipped_line_keeps_the_visible_part)
{
    line(-100, 100, 100, 100);
    EXPECT_EQ(drawn().size(), 101u);
    screen.reset_to_opened_state();
    line(400, -50, 400, 650);
    EXPECT_EQ(drawn().size(), 600u);
    screen.reset_to_opened_state();
    // The diagonal from (-10,-10) enters at the corner and runs to (10,10).
    line(-10, -10, 10, 10);
    Pixels diagonal;
    for (int32_t i = 0; i <= 10; ++i)
        diagonal.insert({i, i});
    EXPECT_EQ(drawn(), diagonal);
    screen.reset_to_opened_state();
    // Left end clipped first, then the bottom end, which becomes the start of the walk.
    line(-100, 400, 100, 700);
    const Pixels lower = drawn();
    EXPECT_EQ(lower.size(), 50u);
    EXPECT_TRUE(lower.count({32, 599}) && lower.count({0, 550}));
}

TEST_F(DrawLineTest, style_mask_runs_from_the_given_first_point)
{
    line(10, 20, 25, 20, 7, 0xC000);  // first two pixels only
    EXPECT_EQ(drawn(), (Pixels{{10, 20}, {11, 20}}));
    screen.reset_to_opened_state();
    line(25, 20, 10, 20, 7, 0xC000);
    EXPECT_EQ(drawn(), (Pixels{{25, 20}, {24, 20}}));
    screen.reset_to_opened_state();
    line(30, 50, 30, 30, 7, 0xC000);  // upward: the pattern starts again 16 pixels on
    EXPECT_EQ(drawn(), (Pixels{{30, 50}, {30, 49}, {30, 34}, {30, 33}}));
    screen.reset_to_opened_state();
    line(0, 0, 17, 1, 7, 0x8001);
    EXPECT_EQ(drawn(), (Pixels{{0, 0}, {15, 1}, {16, 1}}));
}

TEST_F(DrawLineTest, hostile_coordinates_draw_what_their_clamped_values_give)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    line(nan, 0, 10, 10);
    line(0, 0, 10, nan);
    box(nan, nan, nan, nan);
    EXPECT_TRUE(drawn().empty());
    line(-inf, 100, inf, 100);
    EXPECT_EQ(drawn().size(), 800u);
    screen.reset_to_opened_state();
    line(1e30f, -1e30f, -1e30f, 1e30f);  // crosses the screen only at its corner
    line(3e38f, 3e38f, 3e38f, -3e38f);
    box(-inf, -inf, inf, inf);  // every edge off screen
    EXPECT_EQ(drawn(), (Pixels{{0, 0}}));
    box(-inf, 10, inf, 20);
    EXPECT_EQ(drawn().size(), 1u + 2u * 800u);
}

}  // namespace
