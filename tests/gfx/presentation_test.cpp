// The frame shown at any size: bars, no 1-pixel line lost, partial passes, pointer mapping, starting size.
#include <gtest/gtest.h>

#include <algorithm>

#include "gfx/presentation.h"

namespace {

std::vector<uint32_t> scaled(const Presentation& p, const std::vector<uint8_t>& frame, const ArgbColours& colours)
{
    std::vector<uint32_t> out(static_cast<size_t>(p.target.width) * p.target.height, 0);
    scale_frame_rows(p, frame.data(), colours, {0, p.target.height - 1}, out.data(), p.target.width * 4);
    return out;
}

TEST(Presentation, fits_keeps_every_line_and_updates_only_mapped_rows) {
    const ArgbColours colours = argb_colours(default_palette());
    struct Case { int32_t width, height; DeviceRect picture; int32_t whole_scale; };
    for (const Case& c : {Case{800, 600, {0, 0, 800, 600}, 1}, Case{1600, 1200, {0, 0, 1600, 1200}, 2},
                          Case{2400, 1800, {0, 0, 2400, 1800}, 3}, Case{640, 480, {0, 0, 640, 480}, 0},
                          Case{1000, 750, {0, 0, 1000, 750}, 0}, Case{1200, 900, {0, 0, 1200, 900}, 0},
                          Case{1920, 1080, {240, 0, 1440, 1080}, 0}, Case{1680, 1050, {140, 0, 1400, 1050}, 0},
                          Case{1000, 1000, {0, 125, 1000, 750}, 0}, Case{2000, 1200, {200, 0, 1600, 1200}, 2}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const Presentation p = make_presentation(c.width, c.height);
        EXPECT_EQ(p.picture, c.picture);
        EXPECT_EQ(p.whole_scale, c.whole_scale);
        for (int32_t phase = 0; phase < 5; ++phase) {  // white, black lines in every fifth row and column
            std::vector<uint8_t> frame(static_cast<size_t>(screen_width) * screen_height, 15);
            for (size_t i = 0; i < frame.size(); ++i)
                if (i % screen_width % 5 == size_t(phase) || i / screen_width % 5 == size_t(phase)) frame[i] = 0;
            std::vector<uint32_t> out = scaled(p, frame, colours);
            // On a line: black at whole scales, at least 40% dark otherwise; two away from lines: white.
            auto at = [&](int32_t x, int32_t y) {
                const DevicePoint d = device_point_for_frame_pixel(p, x % screen_width, y % screen_height);
                return out[static_cast<size_t>(d.y) * p.target.width + d.x];
            };
            for (int32_t i = phase; i < screen_width; i += 5) {
                EXPECT_LE(at(i, i + 2) & 0xFF, c.whole_scale > 0 ? 0u : 153u) << i;
                EXPECT_LE(at(i + 2, std::min(i, 595 + phase)) & 0xFF, c.whole_scale > 0 ? 0u : 153u) << i;
                EXPECT_EQ(at(i + 2, i + 2), 0xFFFFFFFFu) << i;
            }
            if (phase > 0 && (p.picture.x > 0 || p.picture.y > 0)) { EXPECT_EQ(out[0], 0xFF000000u) << "bars"; }
            // Redrawing only the device rows of a changed frame row equals redrawing all.
            std::fill_n(frame.begin() + 301 * screen_width, screen_width, uint8_t{4});
            scale_frame_rows(p, frame.data(), colours, device_rows_for_frame_rows(p, 301, 301), out.data(), c.width * 4);
            EXPECT_EQ(out, scaled(p, frame, colours));
        }
        for (DevicePoint f : {DevicePoint{0, 0}, DevicePoint{799, 599}, DevicePoint{400, 300}}) {  // from scale 1 up
            const DevicePoint d = device_point_for_frame_pixel(p, f.x, f.y);
            if (p.picture.width >= screen_width) { EXPECT_EQ(frame_pixel_for_device_point(p, d.x, d.y), f); }
        }
    }
}

TEST(Presentation, starting_window_size) {
    struct Case { int32_t work_width, work_height; double stated_scale; DeviceSize size; };
    for (const Case& c : {Case{1024, 738, 0, {800, 600}}, Case{2560, 1400, 0, {1600, 1200}}, Case{800, 480, 0, {640, 480}},
                          Case{3840, 2100, 0, {2400, 1800}}, Case{1024, 570, 0, {760, 570}}, Case{0, 0, 1.5, {1200, 900}},
                          Case{1920, 1040, 1.5, {1200, 900}}, Case{1920, 1040, 2, {1387, 1040}},
                          Case{1366, 728, 1.25, {971, 728}}}) {
        EXPECT_EQ(starting_window_size(c.work_width, c.work_height, c.stated_scale), c.size)
            << c.work_width << "x" << c.work_height << " at " << c.stated_scale;
    }
}

}  // namespace
