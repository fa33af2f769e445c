// Lines and box outlines: rounding of the float end points, clipping to the
// screen, the pixel walks with their style mask, and the row change marks.
#include "screen/draw_line.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <utility>

#include "screen/screen.h"

namespace {

constexpr int64_t right_edge = screen_width - 1;
constexpr int64_t bottom_edge = screen_height - 1;
// Coordinates are held within this range before they become integers, so that
// hostile floats (huge, infinite) can neither overflow nor make the walks long.
constexpr double coordinate_limit = 1'000'000.0;
// Clipping settles within a few passes; a line still outside after this many draws nothing.
constexpr int max_clip_passes = 16;

enum : int {
    outside_left = 1,
    outside_right = 2,
    outside_bottom = 4,
    outside_top = 8,
};

struct Point {
    int64_t x;
    int64_t y;
};

// Drops the fraction towards zero, within the safe range.
int64_t truncate_coordinate(double value)
{
    if (std::isnan(value))
        return 0;
    value = std::clamp(value, -coordinate_limit, coordinate_limit);
    return static_cast<int64_t>(std::trunc(value));
}

// Halves away from zero, computed in double; nothing for NaN.
std::optional<int64_t> round_coordinate(float coordinate)
{
    double value = static_cast<double>(coordinate);
    if (std::isnan(value))
        return std::nullopt;
    value = std::clamp(value, -coordinate_limit, coordinate_limit);
    value = value > 0.0 ? value + 0.5 : value - 0.5;
    return static_cast<int64_t>(std::trunc(value));
}

int outcode(Point p)
{
    int code = 0;
    if (p.x < 0)
        code |= outside_left;
    else if (p.x > right_edge)
        code |= outside_right;
    if (p.y < 0)
        code |= outside_top;
    else if (p.y > bottom_edge)
        code |= outside_bottom;
    return code;
}

// Moves the end points onto the screen border, always the first point that is
// outside (points are swapped so that it is the first). False: nothing to draw.
bool clip_line(Point& first, Point& second)
{
    for (int pass = 0; pass < max_clip_passes; ++pass) {
        int first_code = outcode(first);
        int second_code = outcode(second);
        if (first_code == 0 && second_code == 0)
            return true;
        if ((first_code & second_code) != 0)
            return false;
        if (first_code == 0) {
            std::swap(first, second);
            std::swap(first_code, second_code);
        }
        const bool vertical = first.x == second.x;
        const double slope =
            vertical ? 1.0 : static_cast<double>(second.y - first.y) / static_cast<double>(second.x - first.x);
        const double x1 = static_cast<double>(first.x);
        const double y1 = static_cast<double>(first.y);
        if (first_code & outside_left) {
            first.y = truncate_coordinate(y1 + slope * (0.0 - x1));
            first.x = 0;
        } else if (first_code & outside_right) {
            first.y = truncate_coordinate(y1 + slope * (static_cast<double>(right_edge) - x1));
            first.x = right_edge;
        } else if (first_code & outside_top) {
            if (!vertical)
                first.x = truncate_coordinate(x1 + (0.0 - y1) / slope);
            first.y = 0;
        } else {
            if (!vertical)
                first.x = truncate_coordinate(x1 + (static_cast<double>(bottom_edge) - y1) / slope);
            first.y = bottom_edge;
        }
    }
    return false;
}

class PixelWriter {
public:
    PixelWriter(Screen& screen, uint8_t colour) : frame_(screen.frame_for_drawing()), colour_(colour) {}

    // Starts a walk with the mask on the given bit of the (possibly reversed) style.
    void start_pattern(uint16_t style, int start_bit)
    {
        style_ = style;
        mask_ = static_cast<uint16_t>(1u << start_bit);
    }

    // Sets the pixel when the style bit under the mask is 1, then rotates the mask right.
    void step(int64_t x, int64_t y)
    {
        if ((style_ & mask_) != 0)
            set(x, y);
        mask_ = static_cast<uint16_t>(mask_ == 1 ? 0x8000u : mask_ >> 1);
    }

    void fill_row(int64_t y, int64_t from_x, int64_t to_x)
    {
        from_x = std::max<int64_t>(from_x, 0);
        to_x = std::min<int64_t>(to_x, right_edge);
        if (y < 0 || y > bottom_edge || from_x > to_x)
            return;
        uint8_t* row = frame_ + y * screen_width;
        std::fill(row + from_x, row + to_x + 1, colour_);
    }

private:
    void set(int64_t x, int64_t y)
    {
        if (x >= 0 && x <= right_edge && y >= 0 && y <= bottom_edge)
            frame_[y * screen_width + x] = colour_;
    }

    uint8_t* frame_;
    uint8_t colour_;
    uint16_t style_ = style_solid;
    uint16_t mask_ = 0x8000;
};

uint16_t reverse_style(uint16_t style)
{
    uint16_t reversed = 0;
    for (int bit = 0; bit < 16; ++bit)
        if ((style >> bit) & 1u)
            reversed = static_cast<uint16_t>(reversed | (1u << (15 - bit)));
    return reversed;
}

// A straight run along one axis from `from` to `to`, both included. Walked
// from the smaller end; the style is reversed and started part-way so that the
// pattern still runs from the given first point.
template <typename SetAt>
void walk_axis(PixelWriter& writer, uint16_t style, int64_t from, int64_t to, SetAt set_at)
{
    if (from > to) {
        const auto start_bit = static_cast<int>((from - to) % 16);
        writer.start_pattern(reverse_style(style), start_bit);
        std::swap(from, to);
    } else {
        writer.start_pattern(style, 15);
    }
    for (int64_t v = from; v <= to; ++v)
        set_at(v);
}

void walk_vertical(PixelWriter& writer, uint16_t style, int64_t x, int64_t from_y, int64_t to_y)
{
    walk_axis(writer, style, from_y, to_y, [&](int64_t y) { writer.step(x, y); });
}

void walk_horizontal(PixelWriter& writer, uint16_t style, int64_t y, int64_t from_x, int64_t to_x)
{
    if (style == style_solid) {
        writer.fill_row(y, std::min(from_x, to_x), std::max(from_x, to_x));
        return;
    }
    walk_axis(writer, style, from_x, to_x, [&](int64_t x) { writer.step(x, y); });
}

// The error-term walk from the first point; ties between the axes step along x.
void walk_slanted(PixelWriter& writer, uint16_t style, Point from, Point to)
{
    writer.start_pattern(style, 15);
    const int64_t dx = std::abs(to.x - from.x);
    const int64_t dy = std::abs(to.y - from.y);
    const int64_t sx = to.x > from.x ? 1 : -1;
    const int64_t sy = to.y > from.y ? 1 : -1;
    int64_t x = from.x;
    int64_t y = from.y;
    if (dx >= dy) {
        int64_t error = 2 * dy - dx;
        for (int64_t i = 0; i <= dx; ++i) {
            writer.step(x, y);
            if (error >= 0) {
                y += sy;
                error -= 2 * dx;
            }
            error += 2 * dy;
            x += sx;
        }
    } else {
        int64_t error = 2 * dx - dy;
        for (int64_t i = 0; i <= dy; ++i) {
            writer.step(x, y);
            if (error >= 0) {
                x += sx;
                error -= 2 * dy;
            }
            error += 2 * dx;
            y += sy;
        }
    }
}

void draw_clipped_line(Screen& screen, PixelWriter& writer, Point first, Point second, uint16_t style)
{
    if (!clip_line(first, second))
        return;
    if (first.x == second.x)
        walk_vertical(writer, style, first.x, first.y, second.y);
    else if (first.y == second.y)
        walk_horizontal(writer, style, first.y, first.x, second.x);
    else
        walk_slanted(writer, style, first, second);
    screen.mark_rows_changed(static_cast<int32_t>(std::min(first.y, second.y)),
                             static_cast<int32_t>(std::max(first.y, second.y)));
}

void draw_box_outline(Screen& screen, PixelWriter& writer, Point first, Point second, uint16_t style)
{
    const int64_t x1 = std::min(first.x, second.x);
    const int64_t x2 = std::max(first.x, second.x);
    const int64_t y1 = std::min(first.y, second.y);
    const int64_t y2 = std::max(first.y, second.y);
    if (x2 < 0 || y2 < 0 || x1 > right_edge || y1 > bottom_edge)
        return;
    const int64_t cx1 = std::max<int64_t>(x1, 0);
    const int64_t cx2 = std::min(x2, right_edge);
    const int64_t cy1 = std::max<int64_t>(y1, 0);
    const int64_t cy2 = std::min(y2, bottom_edge);
    // Each edge starts its own run of the style pattern.
    if (y2 <= bottom_edge)
        walk_horizontal(writer, style, y2, cx1, cx2);
    if (y1 >= 0)
        walk_horizontal(writer, style, y1, cx1, cx2);
    if (x2 <= right_edge)
        walk_vertical(writer, style, x2, cy1, cy2);
    if (x1 >= 0)
        walk_vertical(writer, style, x1, cy1, cy2);
    screen.mark_rows_changed(static_cast<int32_t>(cy1), static_cast<int32_t>(cy2));
}

}  // namespace

void draw_line(Screen& screen, float x1, float y1, float x2, float y2, int32_t colour, LineKind kind, uint16_t style)
{
    const auto rx1 = round_coordinate(x1);
    const auto ry1 = round_coordinate(y1);
    const auto rx2 = round_coordinate(x2);
    const auto ry2 = round_coordinate(y2);
    if (!rx1 || !ry1 || !rx2 || !ry2)
        return;  // a NaN end point gives no line
    const Point first{*rx1, *ry1};
    const Point second{*rx2, *ry2};
    const auto palette_index = static_cast<uint8_t>(colour & 0xFF);

    std::lock_guard<ScreenLock> guard(screen.lock());
    PixelWriter writer(screen, palette_index);
    if (kind == LineKind::box_outline)
        draw_box_outline(screen, writer, first, second, style);
    else
        draw_clipped_line(screen, writer, first, second, style);
}
