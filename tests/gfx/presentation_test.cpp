// The frame shown at any size: layout and bars, no 1-pixel line lost, partial
// passes equal to full ones, the pointer mapping and the starting size.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/presentation.h"

namespace {

constexpr uint32_t white = 0xFFFFFFFFu;
constexpr uint32_t black = 0xFF000000u;

std::vector<uint32_t> scaled(const Presentation& p, const std::vector<uint8_t>& frame, const ArgbColours& colours) {
    std::vector<uint32_t> out(static_cast<size_t>(p.target.width) * p.target.height, 0);
    scale_frame_rows(p, frame.data(), colours, {0, p.target.height - 1}, out.data(), p.target.width * 4);
    return out;
}

TEST(Presentation, fits_keeps_every_line_and_updates_only_mapped_rows) {
    const ArgbColours colours = argb_colours(default_palette());
    struct Case { int32_t width, height; DeviceRect picture; int32_t whole_scale; };
    const Case cases[] = {
        {800, 600, {0, 0, 800, 600}, 1},      {1600, 1200, {0, 0, 1600, 1200}, 2},
        {2400, 1800, {0, 0, 2400, 1800}, 3},  {640, 480, {0, 0, 640, 480}, 0},
        {1000, 750, {0, 0, 1000, 750}, 0},    {1200, 900, {0, 0, 1200, 900}, 0},
        {1920, 1080, {240, 0, 1440, 1080}, 0}, {1680, 1050, {140, 0, 1400, 1050}, 0},
        {1000, 1000, {0, 125, 1000, 750}, 0}, {2000, 1200, {200, 0, 1600, 1200}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const Presentation p = make_presentation(c.width, c.height);
        EXPECT_EQ(p.picture, c.picture);
        EXPECT_EQ(p.whole_scale, c.whole_scale);
        for (int32_t phase = 0; phase < 5; ++phase) {
            // White with black 1-pixel lines in every fifth row and column.
            std::vector<uint8_t> frame(static_cast<size_t>(screen_width) * screen_height, 15);
            for (int32_t y = 0; y < screen_height; ++y)
                for (int32_t x = 0; x < screen_width; ++x)
                    if (x % 5 == phase || y % 5 == phase) frame[static_cast<size_t>(y * screen_width + x)] = 0;
            std::vector<uint32_t> out = scaled(p, frame, colours);
            auto at = [&](DevicePoint d) { return out[static_cast<size_t>(d.y) * p.target.width + d.x]; };
            auto darkest_channel = [](uint32_t argb) { return argb & 0xFFu; };
            // A line stays black at whole scales and at least 40% dark otherwise; white stays white.
            const uint32_t most = c.whole_scale > 0 ? 0 : 153;
            for (int32_t i = phase; i < screen_width; i += 5) {
                const int32_t w = i + 2;  // two away from any line
                EXPECT_LE(darkest_channel(at(device_point_for_frame_pixel(p, i, w % screen_height))), most) << i;
                if (i < screen_height) {
                    EXPECT_LE(darkest_channel(at(device_point_for_frame_pixel(p, w % screen_width, i))), most) << i;
                }
                EXPECT_EQ(at(device_point_for_frame_pixel(p, w % screen_width, w % screen_height)), white) << i;
            }
            if (phase > 0 && (p.picture.x > 0 || p.picture.y > 0)) {
                EXPECT_EQ(out[0], black) << "the bars are black";
            }
            // Redrawing only the device rows of a changed frame row equals redrawing all.
            std::fill_n(frame.begin() + 301 * screen_width, screen_width, uint8_t{4});
            scale_frame_rows(p, frame.data(), colours, device_rows_for_frame_rows(p, 301, 301), out.data(),
                             p.target.width * 4);
            EXPECT_EQ(out, scaled(p, frame, colours));
        }
        if (p.picture.width >= screen_width) {  // at scales from 1 up a pixel maps back to itself
            for (DevicePoint f : {DevicePoint{0, 0}, DevicePoint{799, 599}, DevicePoint{400, 300}})
                EXPECT_EQ(frame_pixel_for_device_point(p, device_point_for_frame_pixel(p, f.x, f.y).x,
                                                      device_point_for_frame_pixel(p, f.x, f.y).y), f);
        }
    }
}

TEST(Presentation, starting_window_size) {
    struct Case { int32_t work_width, work_height; double stated_scale; DeviceSize size; };
    const Case cases[] = {
        {1024, 738, 0, {800, 600}},     {2560, 1400, 0, {1600, 1200}},  {3840, 2100, 0, {2400, 1800}},
        {800, 480, 0, {640, 480}},      {1024, 570, 0, {760, 570}},     {1920, 1040, 1.5, {1200, 900}},
        {1920, 1040, 2, {1387, 1040}},  {1366, 728, 1.25, {971, 728}},  {0, 0, 1.5, {1200, 900}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(starting_window_size(c.work_width, c.work_height, c.stated_scale), c.size)
            << c.work_width << "x" << c.work_height << " at " << c.stated_scale;
    }
}

}  // namespace
