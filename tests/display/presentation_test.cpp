// The frame shown at any size: bars, no 1-pixel line lost, partial passes, pointer mapping, starting size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "display/presentation.h"

namespace {

std::vector<uint32_t> scaled(const Presentation& p, const std::vector<uint8_t>& frame, const ArgbColours& colours)
{
    std::vector<uint32_t> out(static_cast<size_t>(p.target.width) * p.target.height, 0);
    scale_frame_rows(p, frame.data(), colours, {0, p.target.height - 1}, out.data(), p.target.width * 4);
    return out;
}

TEST(Presentation, fits_keeps_every_line_and_updates_only_mapped_rows)
{
    const ArgbColours colours = argb_colours(default_palette());
    struct Case {
        int32_t width, height;
    };
    for (const Case& c :
         {Case{800, 600}, Case{1600, 1200}, Case{2400, 1800}, Case{640, 480}, Case{1000, 750}, Case{1200, 900},
          Case{1920, 1080}, Case{1680, 1050}, Case{1000, 1000}, Case{2000, 1200}, Case{801, 599}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const Presentation p = make_presentation(c.width, c.height);
        // It fits, keeps 4:3 to the pixel, touches two opposite sides and is centred.
        const DeviceRect& r = p.picture;
        EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.width <= c.width && r.y + r.height <= c.height);
        EXPECT_LE(std::abs(int64_t{r.width} * 3 - int64_t{r.height} * 4), 4);
        EXPECT_TRUE(r.width == c.width || r.height == c.height);
        EXPECT_LE(std::abs(c.width - r.width - 2 * r.x) + std::abs(c.height - r.height - 2 * r.y), 2);
        EXPECT_EQ(p.whole_scale > 0, r.width % screen_width == 0 && r.width / screen_width * screen_height == r.height);
        for (int32_t phase = 0; phase < 5; ++phase) {  // white, black lines in every fifth row and column
            std::vector<uint8_t> frame(static_cast<size_t>(screen_width) * screen_height, 15);
            for (size_t i = 0; i < frame.size(); ++i)
                if (i % screen_width % 5 == size_t(phase) || i / screen_width % 5 == size_t(phase))
                    frame[i] = 0;
            std::vector<uint32_t> out = scaled(p, frame, colours);
            for (int32_t y = 0; p.whole_scale > 0 && y < r.height; y += 3)  // k x k squares of the frame's pixels
                for (int32_t x = 0; x < r.width; ++x)
                    ASSERT_EQ(
                        out[static_cast<size_t>(r.y + y) * c.width + r.x + x],
                        colours[frame[static_cast<size_t>(y / p.whole_scale) * screen_width + x / p.whole_scale]]);
            // On a line: black at whole scales, at least 40% dark otherwise; two away from lines: white.
            auto at = [&](int32_t x, int32_t y) {
                const DevicePoint d = device_point_for_frame_pixel(p, x % screen_width, y % screen_height);
                return out[static_cast<size_t>(d.y) * p.target.width + d.x];
            };
            for (int32_t i = phase; i < screen_width; i += 5) {
                EXPECT_LE(at(i, i + 2) & 0xFF, p.whole_scale > 0 ? 0u : 153u) << i;
                EXPECT_LE(at(i + 2, std::min(i, 595 + phase)) & 0xFF, p.whole_scale > 0 ? 0u : 153u) << i;
                EXPECT_EQ(at(i + 2, i + 2), 0xFFFFFFFFu) << i;
            }
            if (phase > 0 && (p.picture.x > 0 || p.picture.y > 0)) {
                EXPECT_EQ(out[0], 0xFF000000u) << "bars";
            }
            // Redrawing only the device rows of a changed frame row equals redrawing all.
            std::fill_n(frame.begin() + 301 * screen_width, screen_width, uint8_t{4});
            scale_frame_rows(p, frame.data(), colours, device_rows_for_frame_rows(p, 301, 301), out.data(),
                             c.width * 4);
            EXPECT_EQ(out, scaled(p, frame, colours));
        }
        for (DevicePoint f : {DevicePoint{0, 0}, DevicePoint{799, 599}, DevicePoint{400, 300}}) {  // from scale 1 up
            const DevicePoint d = device_point_for_frame_pixel(p, f.x, f.y);
            if (p.picture.width >= screen_width) {
                EXPECT_EQ(frame_pixel_for_device_point(p, d.x, d.y), f);
            }
        }
    }
}

// The window opens at the stated scale, else the largest whole one, when that
// fits the work area; otherwise as large as fits, 4:3 either way.
TEST(Presentation, starting_window_size)
{
    struct Case {
        int32_t work_width, work_height;
        double stated_scale;
        double scale;
    };  // 0: as large as fits
    for (const Case& c : {Case{1024, 738, 0, 1}, Case{2560, 1400, 0, 2}, Case{800, 480, 0, 0}, Case{3840, 2100, 0, 3},
                          Case{1024, 570, 0, 0}, Case{0, 0, 1.5, 1.5}, Case{1920, 1040, 1.5, 1.5},
                          Case{1920, 1040, 2, 0}, Case{1366, 728, 1.25, 0}}) {
        SCOPED_TRACE(testing::Message() << c.work_width << "x" << c.work_height << " at " << c.stated_scale);
        const DeviceSize size = starting_window_size(c.work_width, c.work_height, c.stated_scale);
        EXPECT_LE(std::abs(int64_t{size.width} * 3 - int64_t{size.height} * 4), 4);
        if (c.scale > 0) {
            EXPECT_EQ(size, (DeviceSize{static_cast<int32_t>(800 * c.scale), static_cast<int32_t>(600 * c.scale)}));
        } else {
            EXPECT_TRUE(size.width == c.work_width || size.height == c.work_height);
        }
        if (c.work_width > 0) {
            EXPECT_TRUE(size.width <= c.work_width && size.height <= c.work_height);
        }
    }
}

}  // namespace
