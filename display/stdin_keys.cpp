// The headless key feed from standard input and the window that starts it.
#include "display/stdin_keys.h"

#include <chrono>

#include "display/window_headless.h"
#include "screen/screen.h"

namespace {
constexpr int32_t stdin_wait_ms = 20;
}  // namespace

StdinKeys::~StdinKeys()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void StdinKeys::start(Screen& screen)
{
    if (thread_.joinable())
        return;
    screen_ = &screen;
    thread_ = std::thread([this] { run(); });
}

void StdinKeys::run()
{
    Screen& screen = *screen_;
    while (!stop_) {
        uint8_t byte = 0;
        const StdinRead read = read_stdin_byte(stdin_wait_ms, byte);
        if (read == StdinRead::ended)
            return;
        if (read == StdinRead::nothing)
            continue;
        // One key at a time, so piped input never overflows the 15-key queue.
        while (!stop_ && screen.key_waiting())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        screen.queue_key(byte == '\n' ? 13u : byte);
    }
}

StdinKeysWindow::StdinKeysWindow(StdinKeys& keys) : StdinKeysWindow(keys, make_headless_window()) {}

StdinKeysWindow::StdinKeysWindow(StdinKeys& keys, std::unique_ptr<Window> inner)
    : ForwardingWindow(std::move(inner)), keys_(keys)
{
}

bool StdinKeysWindow::open(Screen& screen, const std::string& title, std::string& error)
{
    if (!ForwardingWindow::open(screen, title, error))
        return false;
    keys_.start(screen);
    return true;
}
