// A window over another one: each call goes on to the inner window unless the
// wrapper has its own (the standard-input keys, the terminal view).
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "screen/window.h"

class ForwardingWindow : public Window {
public:
    explicit ForwardingWindow(std::unique_ptr<Window> inner) : inner_(std::move(inner)) {}
    bool open(Screen& screen, const std::string& title, std::string& error) override
    {
        return inner_->open(screen, title, error);
    }
    void close() override { inner_->close(); }
    void move_mouse(int32_t x, int32_t y, int32_t visible) override { inner_->move_mouse(x, y, visible); }
    void play_tone() override { inner_->play_tone(); }
    void show_progress(std::string_view line, int32_t first_row, int32_t last_row) override
    {
        inner_->show_progress(line, first_row, last_row);
    }

private:
    std::unique_ptr<Window> inner_;
};
