// Text recognition on the frame buffer for the logger's screen tests.
#include "screen_reading.h"

#include "screen/font.h"
#include "screen/screen.h"

namespace {

constexpr uint8_t white = 15;

bool cell_shows(const Screen& screen, int32_t row, int32_t column, uint8_t code, uint8_t foreground)
{
    const int32_t x0 = cell_width * (column - 1);
    const int32_t y0 = cell_height * (row - 1);
    for (int32_t line = 0; line < cell_height; ++line)
        for (int32_t bit = 0; bit < cell_width; ++bit) {
            const bool set = (vga_font_8x16[code][static_cast<size_t>(line)] >> bit) & 1;
            if (screen.pixel(x0 + bit, y0 + line) != (set ? foreground : white))
                return false;
        }
    return true;
}

}  // namespace

std::string text_at(const Screen& screen, int32_t row, int32_t column, int32_t length, uint8_t foreground)
{
    std::string text;
    for (int32_t i = 0; i < length; ++i) {
        char found = '?';
        for (int code = 32; code <= 126; ++code)
            if (cell_shows(screen, row, column + i, static_cast<uint8_t>(code), foreground)) {
                found = static_cast<char>(code);
                break;
            }
        text += found;
    }
    return text;
}

bool cell_is_blank(const Screen& screen, int32_t row, int32_t column)
{
    return cell_shows(screen, row, column, ' ', 0);
}
