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

TEST(GlyphTable, blank_codes_are_empty_and_block_is_full)
{
    for (int code : {0, 32, 255})
        EXPECT_EQ(vga_font_8x16[code], Glyph{}) << "glyph " << code;
    Glyph full;
    full.fill(0xFF);
    EXPECT_EQ(vga_font_8x16[219], full);
}

TEST(GlyphTable, leftmost_pixel_is_the_low_bit)
{
    // The vertical bar 179 sits in pixel columns 3 and 4; the left half block
    // 221 fills columns 0 to 3.
    EXPECT_EQ(vga_font_8x16[179][8], 0x18);
    EXPECT_EQ(vga_font_8x16[221][8], 0x0F);
    // 'L': the serif at the top left, the foot running to column 6.
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

TEST(FontGenerator, writes_the_table_with_bits_reversed_and_ignores_the_unicode_table)
{
    std::vector<uint8_t> font = psf1(0x02, 16, 256 * 16);
    font[4 + 65 * 16] = 0x80;  // 'A', top line: leftmost pixel only
    font[4 + 65 * 16 + 1] = 0x03;
    font.insert(font.end(), {0x41, 0x00, 0xFF, 0xFF});  // a unicode table follows
    const GeneratorRun run = run_generator(font);
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_NE(run.output.find("vga_font_8x16"), std::string::npos);
    EXPECT_NE(run.output.find("{{0x01, 0xC0,"), std::string::npos);
}

TEST(FontGenerator, takes_the_first_256_of_a_512_glyph_font)
{
    const GeneratorRun run = run_generator(psf1(0x01, 16, 512 * 16));
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_NE(run.output.find("// 255"), std::string::npos);
    EXPECT_EQ(run.output.find("// 256"), std::string::npos);
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
