// The logger program: picks the window backend, runs the logger, and closes
// every channel and the window on the way out.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "app/logger.h"
#include "gfx/graphics.h"
#include "io/channels.h"

namespace {

// The window's title is the program file's name without folder and extension.
std::string program_title(const char* argv0)
{
    std::string name = argv0 != nullptr ? argv0 : "logger";
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name.empty() ? std::string("logger") : name;
}

bool headless_requested()
{
    const char* backend = std::getenv("LOGGER_WINDOW");
    return backend != nullptr && std::strcmp(backend, "headless") == 0;
}

// Without a window, keys come from standard input: each byte is one key and a
// newline is Enter. Stops at end of input or when the program ends.
class StdinKeys {
public:
    void start()
    {
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
    }
    ~StdinKeys()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    void run()
    {
        while (!stop_) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (poll(&input, 1, 20) <= 0)
                continue;
            unsigned char byte = 0;
            if (read(STDIN_FILENO, &byte, 1) != 1)
                return;
            // One key at a time, so piped input never overflows the 15-key queue.
            while (!stop_ && the_screen().key_waiting())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            the_screen().queue_key(byte == '\n' ? 13u : byte);
        }
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The headless window with its keys from standard input. Opening a window
// empties the key queue, so the keys begin to flow only once it is open: keys
// piped in before that would otherwise be lost and leave the first prompt waiting.
class StdinKeysWindow final : public Window {
public:
    explicit StdinKeysWindow(StdinKeys& keys) : keys_(keys), window_(make_headless_window()) {}
    bool open(Screen& screen, const std::string& title, std::string& error) override
    {
        if (!window_->open(screen, title, error))
            return false;
        keys_.start();
        return true;
    }
    void close() override { window_->close(); }
    void move_mouse(int32_t x, int32_t y, int32_t visible) override { window_->move_mouse(x, y, visible); }
    void play_tone() override { window_->play_tone(); }

private:
    StdinKeys& keys_;
    std::unique_ptr<Window> window_;
};

}  // namespace

int main(int /*argc*/, char** argv)
{
    set_window_title(program_title(argv[0]));
    StdinKeys stdin_keys;
    if (headless_requested())
        set_window_factory([&stdin_keys] { return std::make_unique<StdinKeysWindow>(stdin_keys); });
    else
        set_window_factory(make_sdl_window);
    const int exit_status = run_logger();
    close_all_channels();
    close_graphics_window();
    return exit_status;
}
