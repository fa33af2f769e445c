// Opens the real window on a fresh screen, draws a recognisable picture and
// reports on standard output what arrives: "ready", then each key code on a
// line of its own, until F12 or a time-out. window_test.sh drives it under Xvfb.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/clock.h"
#include "display/display_thread.h"
#include "display/system_window.h"
#include "screen/graphics.h"
#include "screen/screen.h"
#include "screen/window.h"

namespace {

struct Options {
    std::string title = "window_check";
    std::string frame_file;  // where the 'd' key saves a snapshot of the frame
    int64_t timeout_ms = 30000;
    bool count_passes = false;
};

constexpr uint32_t key_f12 = extended_key(134);

void say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

bool parse_options(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--title" && has_value) {
            options.title = argv[++i];
        } else if (arg == "--frame-out" && has_value) {
            options.frame_file = argv[++i];
        } else if (arg == "--timeout-ms" && has_value) {
            options.timeout_ms = std::strtoll(argv[++i], nullptr, 10);
        } else if (arg == "--count-passes") {
            options.count_passes = true;
        } else {
            std::fprintf(stderr, "usage: window_check [--title T] [--frame-out FILE] "
                                 "[--timeout-ms N] [--count-passes]\n");
            return false;
        }
    }
    return true;
}

void write_at(Screen& screen, int32_t row, int32_t column, int32_t foreground, int32_t background,
              std::string_view text)
{
    screen.set_text_colours(foreground, background);
    screen.move_cursor(row, column);
    screen.write_text(text, false);
}

// Text in several colours, every code page 437 glyph from 128 up, and every
// palette entry as a block of its own, so that a wrong colour or row shows.
void draw_test_picture(Screen& screen)
{
    screen.set_text_colours(0, 15);
    screen.clear_window();
    write_at(screen, 2, 3, 0, 15, "Window check: black on white");
    write_at(screen, 3, 3, 4, 15, "red on white");
    write_at(screen, 3, 20, 1, 15, "blue on white");
    write_at(screen, 3, 37, 2, 15, "green on white");
    write_at(screen, 4, 3, 14, 1, " yellow on blue ");
    write_at(screen, 4, 22, 15, 4, " white on red ");
    std::string upper_half;
    for (int code = 128; code < 256; ++code)
        upper_half.push_back(static_cast<char>(code));
    write_at(screen, 6, 1, 0, 7, upper_half);

    ScreenLock& lock = screen.lock();
    lock.lock();
    uint8_t* frame = screen.frame_for_drawing();
    // A 16x16 grid of 20x8 blocks, one per palette entry, from y = 300.
    for (int32_t index = 0; index < 256; ++index) {
        const int32_t x0 = 100 + (index % 16) * 20;
        const int32_t y0 = 300 + (index / 16) * 8;
        for (int32_t y = y0; y < y0 + 8; ++y) {
            std::memset(frame + y * screen_width + x0, index, 20);
        }
    }
    // The lines below the text grid: three pixels of each entry.
    for (int32_t y = 592; y < screen_height; ++y) {
        for (int32_t x = 0; x < 768; ++x)
            frame[y * screen_width + x] = static_cast<uint8_t>(x / 3);
    }
    screen.mark_rows_changed(300, 300 + 16 * 8 - 1);
    screen.mark_rows_changed(592, screen_height - 1);
    lock.unlock();
}

uint32_t key_code_from_text(const std::string& text)
{
    if (text.size() == 2 && static_cast<uint8_t>(text[0]) == 255) {
        return extended_key(static_cast<uint8_t>(text[1]));
    }
    return text.empty() ? 0 : static_cast<uint8_t>(text[0]);
}

std::atomic<int64_t> observed_passes{0};

// Counts the display passes of one real second while the program thread
// sleeps, then of one second while it relocks the screen in a tight loop,
// drawing a pixel each time.
void count_display_passes(Screen& screen)
{
    SystemClock clock;
    set_display_pass_observer([](const DisplayPassTimes&) { ++observed_passes; });
    const int64_t idle_start = observed_passes.load();
    clock.sleep_ms(1000);
    const int64_t idle_passes = observed_passes.load() - idle_start;

    ScreenLock& lock = screen.lock();
    const int32_t y = screen_height - 1;
    int64_t relocks = 0;
    const int64_t busy_start = observed_passes.load();
    const double start_s = clock.seconds();
    while (clock.seconds() - start_s < 1.0) {
        lock.lock();
        screen.frame_for_drawing()[y * screen_width + relocks % 768] = static_cast<uint8_t>(relocks);
        screen.mark_rows_changed(y, y);
        lock.unlock();
        ++relocks;
    }
    const int64_t busy_passes = observed_passes.load() - busy_start;

    // A change made while the display sleeps long is taken within a pass, not
    // left for its idle pass: the slowest of five, each after 300 ms of quiet.
    double slowest_take_ms = 0;
    for (int round = 0; round < 5; ++round) {
        clock.sleep_ms(300);
        lock.lock();
        screen.frame_for_drawing()[y * screen_width + round] = 1;
        screen.mark_rows_changed(y, y);
        lock.unlock();
        const double changed_s = clock.seconds();
        for (bool owed = true; owed && clock.seconds() - changed_s < 1.0;) {
            clock.sleep_ms(1);
            lock.lock();
            owed = screen.row_changed(y);
            lock.unlock();
        }
        slowest_take_ms = std::max(slowest_take_ms, (clock.seconds() - changed_s) * 1000.0);
    }
    set_display_pass_observer(nullptr);
    say("passes " + std::to_string(busy_passes) + " relocks " + std::to_string(relocks) + " take_ms " +
        std::to_string(static_cast<int>(slowest_take_ms)) + " idle " + std::to_string(idle_passes));
}

// Reacts to the keys that ask for something; every key is shown on row 30.
bool act_on_key(Screen& screen, Window& window, const Options& options, uint32_t code)
{
    say(std::to_string(code));
    write_at(screen, 30, 3, 0, 15, "last key " + std::to_string(code) + "     ");
    if (code == 'd' && !options.frame_file.empty()) {
        say(save_snapshot(options.frame_file) == 0 ? "dumped" : "dump failed");
    } else if (code == 't') {
        screen.sound_tone();
    } else if (code == 'w') {
        window.move_mouse(5000, -3, 1);  // clamps to the top right pixel
    }
    return code != key_f12;
}

int run_key_loop(Screen& screen, Window& window, const Options& options)
{
    SystemClock clock;
    const double start_s = clock.seconds();
    while ((clock.seconds() - start_s) * 1000.0 < static_cast<double>(options.timeout_ms)) {
        const uint32_t code = key_code_from_text(screen.poll_key());
        if (code == 0) {
            clock.sleep_ms(5);
            continue;
        }
        if (!act_on_key(screen, window, options, code))
            return 0;
    }
    say("timeout");
    return 3;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, options))
        return 2;

    // The program's own path: its screen, its window factory and its exit-time close.
    set_window_factory(make_system_window);
    set_window_title(options.title);
    if (!open_graphics_window()) {
        std::fprintf(stderr, "open failed: %s\n", window_open_error().c_str());
        return 2;
    }
    Screen& screen = the_screen();
    Window& window = *the_window();
    draw_test_picture(screen);
    move_mouse(400, 300, 0);  // as the logger does: centre, hidden

    say("ready");
    if (options.count_passes) {
        count_display_passes(screen);
        close_graphics_window();
        close_graphics_window();  // a second close does nothing
        return 0;
    }
    // Left open on purpose: the close registered at exit must end the display cleanly.
    return run_key_loop(screen, window, options);
}
