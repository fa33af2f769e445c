// Tests of the SDL window's own logic: typed text to code page 437, the tone's
// samples, and opening without a display. The window itself is tested under
// Xvfb by window_test.sh.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

#include "core/clock.h"
#include "core/error_status.h"
#include "display/system_window.h"
#include "display/window_sdl.h"
#include "screen/screen.h"
#include "screen/window.h"

TEST(Cp437FromCodePoint, maps_known_characters)
{
    struct Case {
        char32_t code_point;
        std::optional<uint8_t> byte;
    };
    const Case cases[] = {
        {U'a', 97},       {U'Z', 90},       {U'~', 126},      {U' ', 32},       {U'\u00C7', 128}, {U'\u00E9', 130},
        {U'\u00E5', 134}, {U'\u00C5', 143}, {U'\u00A3', 156}, {U'\u20A7', 158}, {U'\u0192', 159}, {U'\u00BF', 168},
        {U'\u2310', 169}, {U'\u2591', 176}, {U'\u2502', 179}, {U'\u2588', 219}, {U'\u2580', 223}, {U'\u03B1', 224},
        {U'\u00DF', 225}, {U'\u00B5', 230}, {U'\u2229', 239}, {U'\u2261', 240}, {U'\u00B0', 248}, {U'\u2219', 249},
        {U'\u00B7', 250}, {U'\u25A0', 254}, {U'\u00A0', 255},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cp437_from_code_point(c.code_point), c.byte) << "U+" << std::hex << uint32_t{c.code_point};
}

// Every printable byte is reached from exactly one code point, and no control or foreign character has
// one: a duplicate or a typo in the table would leave some byte unreachable or reached twice.
TEST(Cp437FromCodePoint, reaches_every_printable_byte_exactly_once)
{
    std::array<int, 256> hits{};
    for (char32_t code_point = 0; code_point < 0x110000; ++code_point) {
        if (auto byte = cp437_from_code_point(code_point))
            ++hits[*byte];
    }
    for (int byte = 0; byte < 256; ++byte) {
        const bool printable = (byte >= 32 && byte <= 126) || byte >= 128;
        EXPECT_EQ(hits[static_cast<size_t>(byte)], printable ? 1 : 0) << "byte " << byte;
    }
}

// Each character becomes one key; characters without a byte and malformed bytes are dropped.
TEST(Cp437FromUtf8, converts_each_character_to_one_key_and_drops_the_rest)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<uint8_t> keys;
    };
    const Case cases[] = {
        {"digit, letter, accents", "9a\xC3\xA9\xC2\xA3", {57, 97, 130, 156}},
        {"full block, line", "\xE2\x96\x88\xE2\x94\x80", {219, 196}},
        {"nothing", "", {}},
        {"euro sign and an emoji", "x\xE2\x82\xACy\xF0\x9F\x98\x80z", {'x', 'y', 'z'}},
        {"truncated at the end", "AB\xE2\x94", {'A', 'B'}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cp437_from_utf8(c.text), c.keys) << c.name;
    // Malformed bytes between A and B.
    const std::pair<const char*, std::string> malformed[] = {
        {"lone continuation byte", "\x80"}, {"truncated two-byte sequence", "\xC3"},
        {"overlong slash", "\xC0\xAF"},     {"overlong three-byte", "\xE0\x80\xAF"},
        {"surrogate", "\xED\xA0\x80"},      {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"invalid lead byte", "\xFF"},
    };
    for (const auto& [name, bytes] : malformed)
        EXPECT_EQ(cp437_from_utf8("A" + bytes + "B"), (std::vector<uint8_t>{'A', 'B'})) << name;
}

namespace {

// Lengths of the runs of equal samples, in order.
std::vector<size_t> run_lengths(const std::vector<int16_t>& samples)
{
    std::vector<size_t> runs;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (i == 0 || samples[i] != samples[i - 1])
            runs.push_back(0);
        ++runs.back();
    }
    return runs;
}

}  // namespace

// A quarter second of 1000 Hz keeps its frequency at any rate: 500 half periods of the rate's length
// (less than a sample off), at plus and minus the amplitude, ending on a whole period so tones join cleanly.
TEST(ToneSamples, quarter_second_of_1000_hz_is_whole_periods_without_drift)
{
    for (int32_t rate : {48000, 44100}) {
        SCOPED_TRACE(rate);
        const auto samples = make_tone_samples(rate, 1000, 250, 100);
        ASSERT_EQ(samples.size(), static_cast<size_t>(rate / 4));
        EXPECT_EQ(samples.front(), 100);
        EXPECT_EQ(samples.back(), -100);
        const auto runs = run_lengths(samples);
        EXPECT_EQ(runs.size(), 500u);
        for (size_t run : runs)
            EXPECT_LT(std::abs(static_cast<double>(run) - rate / 2000.0), 1.0);
        for (int16_t sample : samples)
            EXPECT_TRUE(sample == 100 || sample == -100);
    }
    EXPECT_TRUE(make_tone_samples(0, 1000, 250, 1).empty());
    EXPECT_TRUE(make_tone_samples(48000, 0, 250, 1).empty());
    EXPECT_TRUE(make_tone_samples(48000, 1000, -5, 1).empty());
}

TEST(SdlWindow, open_without_display_fails_and_says_why)
{
    ::unsetenv("DISPLAY");
    ::unsetenv("SDL_VIDEODRIVER");
    ErrorStatus status;
    Screen screen(status);
    auto window = make_system_window();
    window->close();  // before any open: nothing to do
    std::string error;
    EXPECT_FALSE(window->open(screen, "no display", error));
    EXPECT_NE(error.find("DISPLAY"), std::string::npos) << error;

    // A failed window can be used without harm and closed any number of times.
    window->move_mouse(10, 10, 0);
    window->play_tone();
    window->close();
    window->close();
    std::string second_error;
    EXPECT_FALSE(window->open(screen, "no display", second_error));
    EXPECT_FALSE(second_error.empty());
}

namespace {

// SDL's display-less video driver: a real window object and surface with
// nothing shown, so the display thread runs without an X server.
class SdlWindowWithoutScreen : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("SDL_VIDEODRIVER", "dummy", 1); }
    void TearDown() override { ::unsetenv("SDL_VIDEODRIVER"); }

    // Polls until the display thread has taken the change marks; a generous
    // limit, since this waits for an effect rather than measuring a time.
    static bool display_took_marks(Screen& screen)
    {
        SystemClock clock;
        const double start_s = clock.seconds();
        while (clock.seconds() - start_s < 5.0) {
            screen.lock().lock();
            const bool taken = !screen.row_changed(123);
            screen.lock().unlock();
            if (taken)
                return true;
            clock.sleep_ms(5);
        }
        return false;
    }

    static void draw_on_row_123(Screen& screen)
    {
        screen.lock().lock();
        screen.frame_for_drawing()[123 * screen_width + 7] = 9;
        screen.mark_rows_changed(123, 123);
        screen.lock().unlock();
    }

    ErrorStatus status;
    Screen screen{status};
};

}  // namespace

TEST_F(SdlWindowWithoutScreen, display_thread_takes_the_change_marks_until_closed_and_a_second_open_is_refused)
{
    auto window = make_system_window();
    std::string error;
    ASSERT_TRUE(window->open(screen, "marks", error)) << error;
    EXPECT_TRUE(sdl_screen_saver_kept_off());
    EXPECT_FALSE(window->open(screen, "twice", error));
    EXPECT_FALSE(error.empty());
    draw_on_row_123(screen);
    EXPECT_TRUE(display_took_marks(screen));
    window->close();

    draw_on_row_123(screen);
    EXPECT_TRUE(screen.row_changed(123));
}

// An unknown video driver is named in the failure, and the window opens after it and after a close.
TEST_F(SdlWindowWithoutScreen, opens_again_after_a_failed_and_a_closed_opening)
{
    auto window = make_system_window();
    std::string error;
    ::setenv("SDL_VIDEODRIVER", "no_such_driver", 1);
    EXPECT_FALSE(window->open(screen, "again", error));
    EXPECT_NE(error.find("no_such_driver"), std::string::npos) << error;
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    error.clear();
    ASSERT_TRUE(window->open(screen, "again", error)) << error;
    window->close();
    ASSERT_TRUE(window->open(screen, "again", error)) << error;
    draw_on_row_123(screen);
    EXPECT_TRUE(display_took_marks(screen));
    window->close();
}

// Pointer and tone requests from the program thread return at once, also
// while the display thread is busy and with no audio device to play on.
TEST_F(SdlWindowWithoutScreen, pointer_and_tone_requests_do_not_block)
{
    ::setenv("SDL_AUDIODRIVER", "no_such_audio", 1);
    auto window = make_system_window();
    std::string error;
    ASSERT_TRUE(window->open(screen, "requests", error)) << error;
    screen.lock().lock();  // the display thread cannot run a pass meanwhile
    for (int i = 0; i < 100; ++i) {
        window->move_mouse(i * 10, 700 - i, i % 2);
        window->play_tone();
    }
    screen.lock().unlock();
    draw_on_row_123(screen);
    EXPECT_TRUE(display_took_marks(screen));  // and it still runs afterwards
    window->close();
    ::unsetenv("SDL_AUDIODRIVER");
}
