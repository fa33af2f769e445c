// The window without a display: it remembers what a real window would have
// been asked to do and can write the frame to a BMP file.
#include "display/window_headless.h"

#include <algorithm>
#include <limits>

#include "screen/screen.h"
#include "screen/snapshot.h"

bool HeadlessWindow::open(Screen& screen, const std::string& title, std::string& error)
{
    error.clear();
    screen_ = &screen;
    title_ = title;
    mouse_visible_ = true;
    return true;
}

void HeadlessWindow::close() { screen_ = nullptr; }

void HeadlessWindow::move_mouse(int32_t x, int32_t y, int32_t visible)
{
    if (x >= 0) {
        const PointerPixel pixel = pointer_pixel(x, y);
        mouse_x_ = pixel.x;
        mouse_y_ = pixel.y;
    }
    if (visible >= 0)
        mouse_visible_ = visible != 0;
}

void HeadlessWindow::play_tone()
{
    if (tones_played_ < std::numeric_limits<int32_t>::max())
        ++tones_played_;
}

int32_t HeadlessWindow::dump_frame(const std::string& file_name)
{
    if (screen_ == nullptr)
        return status_not_allowed;
    return save_snapshot(*screen_, file_name, screen_->status());
}

std::unique_ptr<Window> make_headless_window() { return std::make_unique<HeadlessWindow>(); }
