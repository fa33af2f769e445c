// The keys of a run without a window: each byte of standard input is one key,
// fed to the program's screen once the headless window is open.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "core/stdin_bytes.h"
#include "display/forwarding_window.h"

class Screen;

// Queues the bytes of standard input as keys on the screen it is started for,
// a newline as Enter (13), one key at a time so that piped input never
// overflows the key queue. Stops at the end of input or when destroyed.
class StdinKeys {
public:
    StdinKeys() = default;
    StdinKeys(const StdinKeys&) = delete;
    StdinKeys& operator=(const StdinKeys&) = delete;
    ~StdinKeys();
    // The first start begins the feed to `screen`; later ones change nothing.
    void start(Screen& screen);

private:
    void run();
    Screen* screen_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The headless window with its keys from standard input. Opening a window
// empties the key queue, so the keys begin to flow only once it is open: keys
// piped in before that would otherwise be lost and leave the first prompt waiting.
class StdinKeysWindow final : public ForwardingWindow {
public:
    explicit StdinKeysWindow(StdinKeys& keys);
    // Over another window without a display (a terminal view of the headless one).
    StdinKeysWindow(StdinKeys& keys, std::unique_ptr<Window> inner);
    bool open(Screen& screen, const std::string& title, std::string& error) override;

private:
    StdinKeys& keys_;
};
