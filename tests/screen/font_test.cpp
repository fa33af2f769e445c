// The glyph table generated from the console font, and the generator's refusal
// of files that are not usable PSF1 fonts.
#include "screen/font.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "screen_test_support.h"

namespace {

// The leftmost pixel is the low bit: the vertical bar 179 sits in pixel columns 3 and 4, the left half
// block 221 fills columns 0 to 3, and 'L' has its serif at the top left and its foot running to column 6.
TEST(GlyphTable, blank_codes_are_empty_block_is_full_and_the_leftmost_pixel_is_the_low_bit)
{
    for (int code : {0, 32, 255})
        EXPECT_EQ(vga_font_8x16[code], Glyph{}) << "glyph " << code;
    Glyph full;
    full.fill(0xFF);
    EXPECT_EQ(vga_font_8x16[219], full);
    EXPECT_EQ(vga_font_8x16[179][8], 0x18);
    EXPECT_EQ(vga_font_8x16[221][8], 0x0F);
    EXPECT_EQ(vga_font_8x16['L'][2], 0x0F);
    EXPECT_EQ(vga_font_8x16['L'][11], 0x7F);
}

struct GeneratorRun {
    int exit_code = -1;
    std::string output;
    std::string errors;
};

GeneratorRun run_generator(const std::vector<uint8_t>& input)
{
    const TempFolder temp;
    const auto& folder = temp.path;
    std::ofstream(folder / "in.psf", std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
    const std::string command = std::string("'") + LOGGER_BUILD_DIR + "/screen/font_gen' < '" +
                                (folder / "in.psf").string() + "' > '" + (folder / "out.cpp").string() + "' 2> '" +
                                (folder / "err.txt").string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, file_bytes(folder / "out.cpp"), file_bytes(folder / "err.txt")};
}

std::vector<uint8_t> psf1(uint8_t mode, uint8_t height, size_t glyph_bytes)
{
    std::vector<uint8_t> font{0x36, 0x04, mode, height};
    for (size_t i = 0; i < glyph_bytes; ++i)
        font.push_back(static_cast<uint8_t>(i % 251));
    return font;
}

// A unicode table after the glyphs is ignored, and a 512-glyph font gives its first 256.
TEST(FontGenerator, writes_the_first_256_glyphs_with_bits_reversed)
{
    std::vector<uint8_t> font = psf1(0x02, 16, 256 * 16);
    font[4 + 65 * 16] = 0x80;  // 'A', top line: leftmost pixel only
    font[4 + 65 * 16 + 1] = 0x03;
    font.insert(font.end(), {0x41, 0x00, 0xFF, 0xFF});
    const GeneratorRun runs[] = {run_generator(font), run_generator(psf1(0x01, 16, 512 * 16))};
    EXPECT_NE(runs[0].output.find("{{0x01, 0xC0,"), std::string::npos);
    for (const GeneratorRun& run : runs) {
        EXPECT_EQ(run.exit_code, 0) << run.errors;
        EXPECT_NE(run.output.find("vga_font_8x16"), std::string::npos);
        EXPECT_NE(run.output.find("// 255"), std::string::npos);
        EXPECT_EQ(run.output.find("// 256"), std::string::npos);
    }
}

TEST(FontGenerator, refuses_malformed_fonts_with_a_message)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> font;
    };
    std::vector<uint8_t> wrong_magic = psf1(0, 16, 256 * 16);
    wrong_magic[0] = 0x72;
    const std::vector<Case> cases{
        {"empty input", {}},
        {"short header", {0x36, 0x04}},
        {"wrong magic", wrong_magic},
        {"8 pixel lines", psf1(0, 8, 256 * 8)},
        {"truncated glyphs", psf1(0, 16, 256 * 16 - 1)},
        {"512 glyphs promised, 256 given", psf1(0x01, 16, 256 * 16)},
    };
    for (const Case& c : cases) {
        const GeneratorRun run = run_generator(c.font);
        EXPECT_NE(run.exit_code, 0) << c.what;
        EXPECT_NE(run.errors.find("font_gen: "), std::string::npos) << c.what;
    }
}

}  // namespace
