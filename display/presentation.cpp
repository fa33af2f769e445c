// How the 800x600 palette frame is shown on a device area of any size: the
// fitted layout, the area-averaging scaler, the pointer mapping and the
// starting window size.
#include "display/presentation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t black_argb = 0xFF000000u;

// The taps of one axis: `device` pixels showing `source` frame pixels. In units
// where frame pixel i spans [i * device, (i + 1) * device), device pixel d spans
// [d * source, (d + 1) * source); each weight is the overlap's share, rounded,
// with the rounding left-over given to the largest tap so they add up exactly.
ScaleTaps make_taps(int32_t source, int32_t device)
{
    ScaleTaps taps;
    taps.first_source.reserve(static_cast<size_t>(device));
    taps.tap_start.reserve(static_cast<size_t>(device) + 1);
    taps.tap_start.push_back(0);
    for (int64_t d = 0; d < device; ++d) {
        const int64_t begin = d * source;
        const int64_t end = begin + source;
        const auto first = static_cast<int32_t>(begin / device);
        const auto last = static_cast<int32_t>((end - 1) / device);
        taps.first_source.push_back(first);
        const size_t start = taps.weights.size();
        uint32_t total = 0;
        size_t largest = start;
        for (int32_t i = first; i <= last; ++i) {
            const int64_t overlap =
                std::min<int64_t>(int64_t{i + 1} * device, end) - std::max<int64_t>(int64_t{i} * device, begin);
            const auto weight = static_cast<uint16_t>((overlap * scale_weight_total + source / 2) / source);
            taps.weights.push_back(weight);
            total += weight;
            if (weight > taps.weights[largest])
                largest = taps.weights.size() - 1;
        }
        taps.weights[largest] = static_cast<uint16_t>(taps.weights[largest] + scale_weight_total - total);
        // Taps that round to nothing cost work and change nothing.
        while (taps.weights.back() == 0)
            taps.weights.pop_back();
        while (taps.weights[start] == 0) {
            taps.weights.erase(taps.weights.begin() + static_cast<ptrdiff_t>(start));
            ++taps.first_source.back();
        }
        taps.tap_start.push_back(static_cast<int32_t>(taps.weights.size()));
    }
    return taps;
}

uint32_t* target_row(uint32_t* target, int32_t pitch_bytes, int32_t y)
{
    auto* row = reinterpret_cast<uint8_t*>(target) + static_cast<ptrdiff_t>(y) * pitch_bytes;
    return reinterpret_cast<uint32_t*>(row);
}

// A picture row at a whole scale k: every frame pixel becomes k device pixels.
void replicate_row(const uint8_t* frame_row, const ArgbColours& colours, int32_t k, uint32_t* out)
{
    for (int32_t x = 0; x < screen_width; ++x) {
        const uint32_t colour = colours[frame_row[x]];
        for (int32_t i = 0; i < k; ++i)
            *out++ = colour;
    }
}

// Red and blue share one 32-bit word, green has another: with weights out of
// 256 no channel's sum reaches the next, so each tap costs two multiplies.
struct MixedPixel {
    uint32_t red_blue = 0;
    uint32_t green = 0;
    void add(uint32_t argb, uint32_t weight)
    {
        red_blue += (argb & 0xFF00FFu) * weight;
        green += (argb & 0x00FF00u) * weight;
    }
    uint32_t argb() const
    {
        return black_argb | (((red_blue + 0x800080u) >> 8) & 0xFF00FFu) | (((green + 0x8000u) >> 8) & 0x00FF00u);
    }
};

// A picture row at any other scale: the frame rows of device row d mixed by
// their weights into one row of colours, then its columns likewise.
void filter_row(const Presentation& p, const uint8_t* frame, const ArgbColours& colours, int32_t d,
                std::vector<uint32_t>& mixed_row, std::vector<MixedPixel>& sums, uint32_t* out)
{
    const ScaleTaps& rows = p.rows;
    const int32_t first_tap = rows.tap_start[static_cast<size_t>(d)];
    const int32_t end_tap = rows.tap_start[static_cast<size_t>(d) + 1];
    const ptrdiff_t first_row = rows.first_source[static_cast<size_t>(d)];
    const uint8_t* frame_row = frame + first_row * screen_width;
    if (end_tap - first_tap == 1) {  // one frame row only, as many are when growing
        for (int32_t x = 0; x < screen_width; ++x)
            mixed_row[static_cast<size_t>(x)] = colours[frame_row[x]];
    } else {
        std::fill(sums.begin(), sums.end(), MixedPixel{});
        for (int32_t t = first_tap; t < end_tap; ++t, frame_row += screen_width) {
            const uint32_t weight = rows.weights[static_cast<size_t>(t)];
            for (size_t x = 0; x < sums.size(); ++x)
                sums[x].add(colours[frame_row[x]], weight);
        }
        for (size_t x = 0; x < mixed_row.size(); ++x)
            mixed_row[x] = sums[x].argb();
    }
    const int32_t* first_source = p.columns.first_source.data();
    const int32_t* tap_start = p.columns.tap_start.data();
    const uint16_t* weights = p.columns.weights.data();
    for (int32_t c = 0; c < p.picture.width; ++c) {
        const uint32_t* source = mixed_row.data() + first_source[c];
        const int32_t last_tap = tap_start[c + 1] - 1;
        if (last_tap == tap_start[c]) {  // inside one frame pixel
            out[c] = *source;
            continue;
        }
        MixedPixel pixel;
        for (int32_t t = tap_start[c]; t <= last_tap; ++t)
            pixel.add(*source++, weights[t]);
        out[c] = pixel.argb();
    }
}

}  // namespace

Presentation make_presentation(int32_t target_width, int32_t target_height)
{
    Presentation p;
    p.target = {std::max(target_width, 0), std::max(target_height, 0)};
    const int64_t w = p.target.width;
    const int64_t h = p.target.height;
    int64_t picture_width = 0;
    int64_t picture_height = 0;
    if (w * screen_height <= h * screen_width) {  // width decides; bars above and below
        picture_width = w;
        picture_height = (w * screen_height * 2 + screen_width) / (screen_width * 2);
    } else {  // height decides; bars left and right
        picture_height = h;
        picture_width = (h * screen_width * 2 + screen_height) / (screen_height * 2);
    }
    if (picture_width <= 0 || picture_height <= 0)
        picture_width = picture_height = 0;
    p.picture = {static_cast<int32_t>((w - picture_width) / 2), static_cast<int32_t>((h - picture_height) / 2),
                 static_cast<int32_t>(picture_width), static_cast<int32_t>(picture_height)};
    if (picture_width % screen_width == 0 && picture_height == picture_width / screen_width * screen_height) {
        p.whole_scale = static_cast<int32_t>(picture_width / screen_width);
    }
    p.columns = make_taps(screen_width, p.picture.width);
    p.rows = make_taps(screen_height, p.picture.height);
    return p;
}

DeviceRows device_rows_for_frame_rows(const Presentation& p, int32_t first_y, int32_t last_y)
{
    first_y = std::max(first_y, 0);
    last_y = std::min(last_y, screen_height - 1);
    if (p.picture.height == 0 || last_y < first_y)
        return {};
    const int64_t m = p.picture.height;
    // Device row d spans frame units [d * 600, (d + 1) * 600); frame row y spans [y * m, (y + 1) * m).
    const auto first = static_cast<int32_t>(int64_t{first_y} * m / screen_height);
    const auto last = static_cast<int32_t>((int64_t{last_y + 1} * m + screen_height - 1) / screen_height - 1);
    return {p.picture.y + first, p.picture.y + std::min(last, p.picture.height - 1)};
}

void scale_frame_rows(const Presentation& p, const uint8_t* frame, const ArgbColours& colours, DeviceRows rows,
                      uint32_t* target, int32_t target_pitch_bytes)
{
    const int32_t first = std::max(rows.first, 0);
    const int32_t last = std::min(rows.last, p.target.height - 1);
    const DeviceRect& picture = p.picture;
    std::vector<uint32_t> mixed_row;
    std::vector<MixedPixel> sums;
    if (p.whole_scale == 0 && picture.width > 0) {
        mixed_row.resize(static_cast<size_t>(screen_width));
        sums.resize(static_cast<size_t>(screen_width));
    }
    for (int32_t y = first; y <= last; ++y) {
        uint32_t* out = target_row(target, target_pitch_bytes, y);
        const int32_t d = y - picture.y;
        if (d < 0 || d >= picture.height) {
            std::fill(out, out + p.target.width, black_argb);
            continue;
        }
        std::fill(out, out + picture.x, black_argb);
        std::fill(out + picture.x + picture.width, out + p.target.width, black_argb);
        if (p.whole_scale > 0) {
            const uint8_t* frame_row = frame + static_cast<ptrdiff_t>(d / p.whole_scale) * screen_width;
            replicate_row(frame_row, colours, p.whole_scale, out + picture.x);
        } else {
            filter_row(p, frame, colours, d, mixed_row, sums, out + picture.x);
        }
    }
}

DevicePoint device_point_for_frame_pixel(const Presentation& p, int32_t x, int32_t y)
{
    x = std::clamp(x, 0, screen_width - 1);
    y = std::clamp(y, 0, screen_height - 1);
    // The device pixel under the frame pixel's centre.
    const auto dx = static_cast<int32_t>((int64_t{x} * 2 + 1) * p.picture.width / (screen_width * 2));
    const auto dy = static_cast<int32_t>((int64_t{y} * 2 + 1) * p.picture.height / (screen_height * 2));
    return {p.picture.x + std::min(dx, std::max(p.picture.width - 1, 0)),
            p.picture.y + std::min(dy, std::max(p.picture.height - 1, 0))};
}

DevicePoint frame_pixel_for_device_point(const Presentation& p, int32_t x, int32_t y)
{
    if (p.picture.width == 0)
        return {};
    // The frame pixel under the device pixel's centre.
    const int64_t dx = std::clamp(x - p.picture.x, 0, p.picture.width - 1);
    const int64_t dy = std::clamp(y - p.picture.y, 0, p.picture.height - 1);
    return {static_cast<int32_t>((dx * 2 + 1) * screen_width / (int64_t{p.picture.width} * 2)),
            static_cast<int32_t>((dy * 2 + 1) * screen_height / (int64_t{p.picture.height} * 2))};
}

DeviceSize starting_window_size(int32_t work_width, int32_t work_height, double stated_scale)
{
    const bool stated = std::isfinite(stated_scale) && stated_scale > 0;
    if (work_width <= 0 || work_height <= 0) {  // no work area known: the stated scale, or 1
        const double scale = stated ? std::min(stated_scale, 16.0) : 1.0;
        return {static_cast<int32_t>(std::lround(screen_width * scale)),
                static_cast<int32_t>(std::lround(screen_height * scale))};
    }
    // The largest picture that fits is the one a window filling the work area shows.
    const DeviceRect fitted = make_presentation(work_width, work_height).picture;
    const DeviceSize largest{fitted.width, fitted.height};
    double scale = 0;
    if (stated) {
        scale = stated_scale;
    } else {
        scale = std::floor(std::min(static_cast<double>(fitted.width) / screen_width,
                                    static_cast<double>(fitted.height) / screen_height));
    }
    if (scale <= 0)
        return largest;
    const DeviceSize size{static_cast<int32_t>(std::lround(screen_width * std::min(scale, 16.0))),
                          static_cast<int32_t>(std::lround(screen_height * std::min(scale, 16.0)))};
    if (size.width > largest.width || size.height > largest.height)
        return largest;
    return size;
}
