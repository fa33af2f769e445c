// The headless key feed from standard input and the window that starts it.
#include "gfx/stdin_keys.h"

#include <chrono>

#include "gfx/graphics.h"

namespace {
constexpr int32_t stdin_wait_ms = 20;
}  // namespace

StdinKeys::~StdinKeys()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void StdinKeys::start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

void StdinKeys::run()
{
    while (!stop_) {
        uint8_t byte = 0;
        const StdinRead read = read_stdin_byte(stdin_wait_ms, byte);
        if (read == StdinRead::ended)
            return;
        if (read == StdinRead::nothing)
            continue;
        // One key at a time, so piped input never overflows the 15-key queue.
        while (!stop_ && the_screen().key_waiting())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        the_screen().queue_key(byte == '\n' ? 13u : byte);
    }
}

StdinKeysWindow::StdinKeysWindow(StdinKeys& keys) : keys_(keys), window_(make_headless_window()) {}

StdinKeysWindow::StdinKeysWindow(StdinKeys& keys, std::unique_ptr<Window> inner) : keys_(keys), window_(std::move(inner))
{
}

bool StdinKeysWindow::open(Screen& screen, const std::string& title, std::string& error)
{
    if (!window_->open(screen, title, error))
        return false;
    keys_.start();
    return true;
}

void StdinKeysWindow::close() { window_->close(); }

void StdinKeysWindow::move_mouse(int32_t x, int32_t y, int32_t visible) { window_->move_mouse(x, y, visible); }

void StdinKeysWindow::play_tone() { window_->play_tone(); }

void StdinKeysWindow::show_progress(std::string_view line, int32_t first_row, int32_t last_row)
{
    window_->show_progress(line, first_row, last_row);
}
