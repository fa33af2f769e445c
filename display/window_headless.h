// The headless backend: the same screen with no window, for tests and for runs
// without a display. It can write the current frame as a BMP file.
#pragma once
#include <memory>
#include <string>

#include "screen/window.h"

class HeadlessWindow final : public Window {
public:
    bool open(Screen& screen, const std::string& title, std::string& error) override;
    void close() override;
    void move_mouse(int32_t x, int32_t y, int32_t visible) override;
    void play_tone() override;

    // Writes the frame as it stands through the snapshot writer; returns its status.
    int32_t dump_frame(const std::string& file_name);

    int32_t tones_played() const { return tones_played_; }
    int32_t mouse_x() const { return mouse_x_; }
    int32_t mouse_y() const { return mouse_y_; }
    bool mouse_visible() const { return mouse_visible_; }
    const std::string& title() const { return title_; }

private:
    Screen* screen_ = nullptr;
    std::string title_;
    int32_t tones_played_ = 0;
    int32_t mouse_x_ = 0;
    int32_t mouse_y_ = 0;
    bool mouse_visible_ = true;
};

std::unique_ptr<Window> make_headless_window();
