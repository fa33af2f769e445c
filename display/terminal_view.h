// A terminal view of a window without a display: what a person at a terminal
// (over SSH, say) needs of the screen, as lines of text. The window itself,
// its frame and everything drawn stay as they are.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "display/forwarding_window.h"

// The text a row of the screen shows, read back off the frame: a cell in two
// colours that shows a printable ASCII glyph gives that character, any other
// cell (blank, another glyph, crossed by a line) a space. Leading and
// trailing spaces are dropped.
std::string text_of_row(const Screen& screen, int32_t row);

// Wraps another window (the headless one) and writes to the terminal each
// text row that changed, once it has stood still for a look, and each
// progress line. A prompt drawn again with the cursor on it is written again
// even when its text is the same, so a refused answer shows. The writing is
// done on a thread of its own, which sleeps until a row changes or a line
// waits, and reads the changes through a watch of its own, so that a display
// beside it misses none: a stalled terminal never holds up the program.
class TerminalViewWindow final : public ForwardingWindow {
public:
    // write_text puts text on the terminal; false once the terminal is gone.
    TerminalViewWindow(std::unique_ptr<Window> inner, std::function<bool(std::string_view)> write_text);
    TerminalViewWindow(const TerminalViewWindow&) = delete;
    TerminalViewWindow& operator=(const TerminalViewWindow&) = delete;
    ~TerminalViewWindow() override;
    bool open(Screen& screen, const std::string& title, std::string& error) override;
    void close() override;
    void show_progress(std::string_view line, int32_t first_row, int32_t last_row) override;

private:
    // What the view's thread shares with the window, made anew for each
    // opening; the thread holds a share, so a thread left writing to a stalled
    // terminal outlives the window safely.
    struct Shared;
    std::function<bool(std::string_view)> write_text_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};
