// How the 800x600 palette frame is shown on a device area of any size: one
// uniform scale that fits, centred, black bars on the sides left over, and a
// filter that loses no 1-pixel line. Pure functions shared by every window
// backend, so that they are tested without a window.
#pragma once
#include <cstdint>
#include <vector>

#include "screen/screen.h"

struct DeviceSize {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const DeviceSize&) const = default;
};

struct DeviceRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const DeviceRect&) const = default;
};

struct DevicePoint {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const DevicePoint&) const = default;
};

// One axis of the scale. Device pixel d of the picture (0 = its first) is the
// weighted mean of frame pixels first_source[d] onwards, with the weights
// weights[tap_start[d]] .. weights[tap_start[d + 1] - 1], which add up to
// scale_weight_total: the share of the device pixel that each frame pixel covers.
constexpr uint32_t scale_weight_total = 256;
struct ScaleTaps {
    std::vector<int32_t> first_source;
    std::vector<int32_t> tap_start;
    std::vector<uint16_t> weights;
};

// Where and how the frame lands on a device area.
struct Presentation {
    DeviceSize target;        // the whole area, bars included
    DeviceRect picture;       // the frame's place in it; empty when the area is too small
    int32_t whole_scale = 0;  // k when the picture is exactly k*800 x k*600, else 0
    ScaleTaps columns;        // per device column of the picture
    ScaleTaps rows;           // per device row of the picture
};

// The frame fitted uniformly into target_width x target_height device pixels,
// centred, 4:3 kept. Negative sizes count as 0.
Presentation make_presentation(int32_t target_width, int32_t target_height);

// A run of device rows (target coordinates), empty when last < first.
struct DeviceRows {
    int32_t first = 0;
    int32_t last = -1;
    bool empty() const { return last < first; }
    bool operator==(const DeviceRows&) const = default;
};

// The device rows whose pixels frame rows first_y..last_y contribute to (a
// filtered scale mixes neighbouring frame rows into one device row).
DeviceRows device_rows_for_frame_rows(const Presentation& presentation, int32_t first_y, int32_t last_y);

// Writes device rows rows.first..rows.last of the whole target (bars black,
// alpha 255) as 32-bit ARGB. `target` points at device row 0, column 0;
// target_pitch_bytes is the distance between device rows. Rows outside the
// target are left alone.
void scale_frame_rows(const Presentation& presentation, const uint8_t* frame, const ArgbColours& colours,
                      DeviceRows rows, uint32_t* target, int32_t target_pitch_bytes);

// The device pixel that shows the centre of frame pixel (x, y); x and y are
// first limited to the frame.
DevicePoint device_point_for_frame_pixel(const Presentation& presentation, int32_t x, int32_t y);
// The frame pixel shown at device pixel (x, y); points on the bars give the
// nearest frame pixel.
DevicePoint frame_pixel_for_device_point(const Presentation& presentation, int32_t x, int32_t y);

// The client size a window opens at, given the work area its client may fill
// (the desktop less panels, less the window's frame) and the scale the desktop
// states (DPI / 96; 0 or less when it states none):
// - no stated scale: the largest whole scale that fits;
// - a stated scale: that scale, or the largest that fits when it does not;
// - when scale 1 does not fit: the largest fractional scale that fits.
DeviceSize starting_window_size(int32_t work_width, int32_t work_height, double stated_scale);
