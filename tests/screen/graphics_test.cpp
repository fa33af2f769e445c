// The program's screen operations: opening and closing the window through the
// factory, the statuses they leave, and the thin functions over the screen.
#include "screen/graphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "core/clock.h"
#include "core/error_status.h"
#include "display/window_headless.h"

namespace {

class RefusingWindow final : public Window {
public:
    bool open(Screen&, const std::string&, std::string& error) override
    {
        error = "no display";
        return false;
    }
    void close() override {}
    void move_mouse(int32_t, int32_t, int32_t) override {}
    void play_tone() override {}
};

struct GraphicsTest : ::testing::Test {
    ErrorStatus status;
    Screen screen{status};
    VirtualClock clock;
    HeadlessWindow* headless = nullptr;

    void SetUp() override
    {
        use_error_status(&status);
        use_screen(&screen);
        use_program_clock(&clock);
        set_window_factory([this] {
            auto window = std::make_unique<HeadlessWindow>();
            headless = window.get();
            return window;
        });
    }
    void TearDown() override
    {
        close_graphics_window();
        set_window_factory(nullptr);
        use_program_clock(nullptr);
        use_screen(nullptr);
        use_error_status(nullptr);
    }
};

TEST_F(GraphicsTest, opening_resets_the_screen_and_plays_tones_through_the_window_until_closed)
{
    screen.set_text_colours(3, 9);
    screen.clear_window();
    screen.move_cursor(5, 5);
    screen.queue_key('a');
    status.set(2);
    set_window_title("logger");
    ASSERT_TRUE(open_graphics_window());
    EXPECT_EQ(status.code(), 0);
    ASSERT_NE(headless, nullptr);
    EXPECT_EQ(the_window(), headless);
    EXPECT_EQ(headless->title(), "logger");
    EXPECT_EQ(screen.pixel(400, 599), 0);
    EXPECT_EQ(cursor_position(), (CellPosition{1, 1}));
    EXPECT_EQ(screen.foreground(), 15);
    EXPECT_FALSE(key_waiting());

    write_text("\a", false);
    sound_tone();
    EXPECT_EQ(headless->tones_played(), 2);

    // Closing twice does no harm and stops the tones; opened again, the default title is the program's name.
    close_graphics_window();
    close_graphics_window();
    EXPECT_EQ(the_window(), nullptr);
    sound_tone();
    set_window_title("");
    ASSERT_TRUE(open_graphics_window());
    EXPECT_EQ(headless->title(), "screen_tests");
}

TEST_F(GraphicsTest, program_screen_reports_to_the_installed_status_but_never_keeps_it)
{
    use_screen(nullptr);
    {
        ErrorStatus short_lived;
        use_error_status(&short_lived);
        short_lived.set(3);
        ASSERT_TRUE(open_graphics_window());  // may create the program's screen now
        move_cursor(1, 1);
        EXPECT_EQ(short_lived.code(), 0);
        use_error_status(&status);
    }
    status.set(3);
    write_text("x", false);  // must not touch the status object that is gone
    EXPECT_EQ(status.code(), 0);
}

TEST_F(GraphicsTest, failed_open_sets_status_1_and_keeps_the_cause)
{
    set_window_factory([] { return std::make_unique<RefusingWindow>(); });
    EXPECT_FALSE(open_graphics_window());
    EXPECT_EQ(status.code(), 1);
    EXPECT_EQ(window_open_error(), "no display");
    EXPECT_EQ(the_window(), nullptr);
}

TEST_F(GraphicsTest, without_a_window_operations_change_nothing_and_leave_their_own_status)
{
    // A screen state that any drawing, text or colour change would alter: a
    // line end owed on the last row, a queued key.
    screen.set_text_colours(3, 9);
    screen.move_cursor(37, 1);
    screen.write_text(std::string(100, 'x'), false);
    screen.queue_key('x');
    const std::vector<uint8_t> frame(screen.frame(), screen.frame() + screen_width * screen_height);

    constexpr int32_t untouched = 5;
    struct Case {
        const char* name;
        std::function<void()> operation;
        int32_t status_after;
    } cases[] = {
        {"draw_line", [] { draw_line(10, 10, 20, 10, 7, LineKind::line, style_solid); }, untouched},
        {"box outline", [] { draw_line(0, 0, 799, 599, 7, LineKind::box_outline, style_solid); }, untouched},
        {"write_text", [] { write_text("hi", true); }, status_ok},
        {"move_cursor", [] { move_cursor(2, 3); }, status_ok},
        {"clear_window", [] { clear_window(); }, untouched},
        {"set_text_colours", [] { set_text_colours(1, 2); }, untouched},
        {"finish_pending_line_end", [] { finish_pending_line_end(); }, untouched},
        {"move_mouse", [] { move_mouse(400, 300, 0); }, status_not_allowed},
        {"poll_key", [] { EXPECT_EQ(poll_key(), ""); }, untouched},
        {"key_waiting", [] { EXPECT_FALSE(key_waiting()); }, untouched},
        {"pause_ms is not cut short by a key",
         [this] {
             const double before = clock.seconds();
             pause_ms(1000);
             EXPECT_DOUBLE_EQ(clock.seconds() - before, 1.0);
         },
         untouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        status.set(untouched);
        c.operation();
        EXPECT_EQ(status.code(), c.status_after);
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), screen.frame()));
        EXPECT_EQ(screen.cursor_position(), (CellPosition{37, 100}));
        EXPECT_TRUE(screen.line_end_pending());
        EXPECT_EQ(screen.foreground(), 3);
        EXPECT_TRUE(screen.key_waiting());
    }

    ASSERT_TRUE(open_graphics_window());
    move_mouse(400, 300, 0);
    EXPECT_EQ(status.code(), 0);
    EXPECT_EQ(headless->mouse_x(), 400);
    EXPECT_FALSE(headless->mouse_visible());
    screen.queue_key(key_escape);
    EXPECT_TRUE(key_waiting());
    EXPECT_EQ(poll_key(), "\x1B");
}

TEST_F(GraphicsTest, thin_functions_reach_the_installed_screen_and_clock)
{
    ASSERT_TRUE(open_graphics_window());
    set_text_colours(0, 15);
    clear_window();
    move_cursor(2, 3);
    write_text("hi", true);
    EXPECT_EQ(cursor_position(), (CellPosition{3, 1}));
    draw_line(0, 599, 799, 599, 260, LineKind::line, style_solid);
    EXPECT_EQ(screen.pixel(799, 599), 4);

    const double before = seconds_clock();
    pause_ms(1000);
    EXPECT_DOUBLE_EQ(seconds_clock() - before, 1.0);
    EXPECT_EQ(save_snapshot("/nonexistent-folder/x.bmp"), 2);
    EXPECT_EQ(status.code(), 2);
}

}  // namespace
