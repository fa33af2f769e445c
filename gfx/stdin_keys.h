// The keys of a run without a window: each byte of standard input is one key,
// fed to the program's screen once the headless window is open.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "core/stdin_bytes.h"
#include "gfx/window.h"

// Queues the bytes of standard input as keys, a newline as Enter (13), one key
// at a time so that piped input never overflows the key queue. Stops at the end
// of input or when destroyed.
class StdinKeys {
public:
    StdinKeys() = default;
    StdinKeys(const StdinKeys&) = delete;
    StdinKeys& operator=(const StdinKeys&) = delete;
    ~StdinKeys();
    void start();

private:
    void run();
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The headless window with its keys from standard input. Opening a window
// empties the key queue, so the keys begin to flow only once it is open: keys
// piped in before that would otherwise be lost and leave the first prompt waiting.
class StdinKeysWindow final : public Window {
public:
    explicit StdinKeysWindow(StdinKeys& keys);
    // Over another window without a display (a terminal view of the headless one).
    StdinKeysWindow(StdinKeys& keys, std::unique_ptr<Window> inner);
    bool open(Screen& screen, const std::string& title, std::string& error) override;
    void close() override;
    void move_mouse(int32_t x, int32_t y, int32_t visible) override;
    void play_tone() override;
    void show_progress(std::string_view line, int32_t first_row, int32_t last_row) override;

private:
    StdinKeys& keys_;
    std::unique_ptr<Window> window_;
};
