// The parts of the SDL window that need no SDL and are worth testing alone:
// typed text to code page 437 keys, and the samples of the tone; and whether
// the open window keeps the screen saver off.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The code page 437 byte that shows `code_point`, if there is one. Control
// characters have none: those keys arrive as key presses, not as text.
std::optional<uint8_t> cp437_from_code_point(char32_t code_point);

// Decodes UTF-8 text and converts every character to code page 437; characters
// without a code page 437 byte and malformed bytes are dropped.
std::vector<uint8_t> cp437_from_utf8(std::string_view text);

// A square wave of `frequency_hz` lasting `duration_ms`, mono signed 16-bit,
// starting on the positive half; it ends on a whole period when the rate allows.
std::vector<int16_t> make_tone_samples(int32_t sample_rate_hz, int32_t frequency_hz, int32_t duration_ms,
                                       int16_t amplitude);

// True while SDL's video is up with the screen saver and idle sleep kept off.
bool sdl_screen_saver_kept_off();

// The scale the desktop states for its windows: GDK_SCALE where it is a whole
// number from 1 to 8, else the X resource Xft.dpi / 96; 0 where neither is set.
double stated_desktop_scale();

// The window's X connection, for waiting on it; -1 when it is not on X.
struct SDL_Window;
int x_connection_fd(SDL_Window* window);
// From now on a broken X connection (the server gone), met on any connection,
// calls on_lost(context) on the thread that met it, which must not return,
// instead of Xlib ending the process.
void watch_for_lost_x_display(void (*on_lost)(void* context), void* context);
