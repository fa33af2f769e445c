// The terminal view: text rows read back off the frame and progress lines,
// written by a thread of its own.
#include "display/terminal_view.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "screen/font.h"
#include "screen/screen.h"

namespace {

// A row drawn on is written once it has stood still this long.
constexpr auto settle_period = std::chrono::milliseconds(50);
// How long closing waits for the last lines to reach a slow terminal.
constexpr auto closing_wait = std::chrono::milliseconds(1000);
// Lines kept while the terminal does not take them; later ones are dropped.
constexpr size_t most_waiting_lines = 4096;

// The bottom pixel line of a cell is not read: the line editor's edit mark
// is drawn there, and the character under it should still read.
constexpr int32_t read_lines = cell_height - 1;

// The printable ASCII glyphs by their pixels; the lowest code wins a tie.
const std::map<Glyph, char>& ascii_glyphs()
{
    static const std::map<Glyph, char> glyphs = [] {
        std::map<Glyph, char> found;
        for (int code = 33; code <= 126; ++code) {
            Glyph read = vga_font_8x16[static_cast<size_t>(code)];
            read[read_lines] = 0;
            found.emplace(read, static_cast<char>(code));
        }
        return found;
    }();
    return glyphs;
}

char cell_character(const Screen& screen, int32_t row, int32_t column)
{
    const int32_t x0 = cell_width * (column - 1);
    const int32_t y0 = cell_height * (row - 1);
    // Every ASCII glyph leaves its top left pixel in the background colour.
    const uint8_t background = screen.pixel(x0, y0);
    int32_t ink = -1;
    Glyph bits{};
    for (int32_t line = 0; line < read_lines; ++line)
        for (int32_t bit = 0; bit < cell_width; ++bit) {
            const uint8_t colour = screen.pixel(x0 + bit, y0 + line);
            if (colour == background)
                continue;
            if (ink >= 0 && colour != ink)
                return ' ';
            ink = colour;
            bits[static_cast<size_t>(line)] |= static_cast<uint8_t>(1u << bit);
        }
    if (ink < 0)
        return ' ';
    const auto found = ascii_glyphs().find(bits);
    return found == ascii_glyphs().end() ? ' ' : found->second;
}

}  // namespace

std::string text_of_row(const Screen& screen, int32_t row)
{
    std::string text;
    for (int32_t column = 1; column <= text_columns; ++column)
        text += cell_character(screen, row, column);
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct TerminalViewWindow::Shared {
    std::function<bool(std::string_view)> write_text;
    std::mutex mutex;
    std::condition_variable wake;
    Screen* screen = nullptr;
    ScreenWatch watch;
    bool changed = false;  // the watch reported a change not yet looked at
    // Per row: the text last written, and a change not yet written.
    std::array<std::string, text_rows> written;
    std::array<bool, text_rows> redrawn{};
    std::array<bool, text_rows> asked_again{};
    // Rows the progress lines stand for; their changes are not written.
    int32_t live_first_row = 0;
    int32_t live_last_row = -1;
    bool progress_begun = false;
    std::deque<std::string> waiting;
    bool stopping = false;
    bool finished = false;

    void queue(std::string line)
    {
        if (waiting.size() < most_waiting_lines)
            waiting.push_back(std::move(line) + "\n");
    }

    bool rows_left_to_settle() const { return std::find(redrawn.begin(), redrawn.end(), true) != redrawn.end(); }

    // Marks the rows drawn on since the last look; writes those that did not
    // change again since (or all of them, when `everything`).
    void look_at_screen(bool everything)
    {
        changed = false;
        if (screen == nullptr)
            return;
        std::lock_guard<ScreenLock> guard(screen->lock());
        RowMarks marks{};
        screen->take_changed_row_marks(watch, marks);
        const int32_t cursor_row = screen->cursor_position().row;
        for (int32_t row = 1; row <= text_rows; ++row) {
            const auto index = static_cast<size_t>(row - 1);
            bool drawn_on = false;
            for (int32_t line = 0; line < cell_height; ++line)
                drawn_on = drawn_on || marks[static_cast<size_t>((row - 1) * cell_height + line)];
            if (drawn_on) {
                redrawn[index] = true;
                asked_again[index] = asked_again[index] || (!progress_begun && row == cursor_row);
                if (!everything)
                    continue;
            }
            if (!redrawn[index])
                continue;
            redrawn[index] = false;
            if (row >= live_first_row && row <= live_last_row)
                continue;
            std::string text = text_of_row(*screen, row);
            if (!text.empty() && (text != written[index] || asked_again[index]))
                queue(text);
            asked_again[index] = false;
            written[index] = std::move(text);
        }
    }

    // Writes what waits, without holding the lock while the terminal takes it.
    void write_waiting(std::unique_lock<std::mutex>& guard)
    {
        while (!waiting.empty()) {
            const std::string line = std::move(waiting.front());
            waiting.pop_front();
            guard.unlock();
            const bool written_out = write_text(line);
            guard.lock();
            if (!written_out) {
                // The terminal is gone: nothing more will reach it.
                waiting.clear();
                write_text = [](std::string_view) { return false; };
            }
        }
    }

    // Sleeps until a row changes or a line waits; a row drawn on is written
    // once a look a moment later finds it drawn no more.
    void run()
    {
        std::unique_lock<std::mutex> guard(mutex);
        while (!stopping) {
            if (rows_left_to_settle())
                wake.wait_for(guard, settle_period, [this] { return stopping; });
            else
                wake.wait(guard, [this] { return stopping || changed || !waiting.empty(); });
            if (stopping)
                break;
            look_at_screen(false);
            write_waiting(guard);
        }
        write_waiting(guard);
        finished = true;
        wake.notify_all();
    }
};

TerminalViewWindow::TerminalViewWindow(std::unique_ptr<Window> inner, std::function<bool(std::string_view)> write_text)
    : ForwardingWindow(std::move(inner)), write_text_(std::move(write_text))
{
}

TerminalViewWindow::~TerminalViewWindow() { close(); }

bool TerminalViewWindow::open(Screen& screen, const std::string& title, std::string& error)
{
    if (thread_.joinable()) {
        error = "the terminal view is already open";
        return false;
    }
    if (!ForwardingWindow::open(screen, title, error))
        return false;
    shared_ = std::make_shared<Shared>();
    shared_->write_text = write_text_;
    shared_->screen = &screen;
    // Weakly held: a report that comes after the view closed finds nothing to wake.
    std::weak_ptr<Shared> weak = shared_;
    shared_->watch.on_change = [weak] {
        if (const std::shared_ptr<Shared> shared = weak.lock()) {
            {
                std::lock_guard<std::mutex> guard(shared->mutex);
                shared->changed = true;
            }
            shared->wake.notify_all();
        }
    };
    screen.add_watch(shared_->watch);
    std::shared_ptr<Shared> shared = shared_;
    thread_ = std::thread([shared] { shared->run(); });
    return true;
}

void TerminalViewWindow::close()
{
    if (thread_.joinable()) {
        std::unique_lock<std::mutex> guard(shared_->mutex);
        shared_->look_at_screen(true);
        shared_->screen->remove_watch(shared_->watch);
        shared_->screen = nullptr;
        shared_->stopping = true;
        shared_->wake.notify_all();
        // A terminal that takes nothing must not keep the program from ending:
        // the thread then finishes on its own, holding its share of the state.
        const bool finished = shared_->wake.wait_for(guard, closing_wait, [this] { return shared_->finished; });
        guard.unlock();
        if (finished)
            thread_.join();
        else
            thread_.detach();
    }
    ForwardingWindow::close();
}

void TerminalViewWindow::show_progress(std::string_view line, int32_t first_row, int32_t last_row)
{
    if (!shared_)
        return;
    std::lock_guard<std::mutex> guard(shared_->mutex);
    // What changed on the screen before this line comes before it.
    shared_->look_at_screen(true);
    shared_->progress_begun = true;
    shared_->live_first_row = first_row;
    shared_->live_last_row = last_row;
    shared_->queue(std::string(line));
    shared_->wake.notify_all();
}
