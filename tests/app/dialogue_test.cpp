// The start-up screen and the three questions, answered through the keyboard.
#include <gtest/gtest.h>

#include "app/dialogue.h"
#include "program_fixture.h"
#include "screen_reading.h"

namespace {

constexpr uint8_t black = 0;

class Dialogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(open_graphics_window());
        show_start_up_screen();
    }
    ProgramFixture program;
};

}  // namespace

TEST_F(Dialogue, banner_lines_have_their_fixed_lengths_and_places)
{
    EXPECT_EQ(title_banner.size(), 62u);
    EXPECT_EQ(web_site_line.size(), 64u);
    EXPECT_EQ(web_site_line.substr(53), std::string(11, ' '));
    EXPECT_EQ(toolchain_line.size(), 71u);
    EXPECT_EQ(toolchain_line.back(), ' ');
    EXPECT_NE(title_banner.find("QUELVANE"), std::string_view::npos);
    EXPECT_NE(title_banner.find("KORVELIN"), std::string_view::npos);
    EXPECT_EQ(text_at(program.screen, 3, 10, 62, black), title_banner);
    EXPECT_EQ(text_at(program.screen, 9, 10, 58, black), "Power must be applied to DATALOG module before continuing!");
    EXPECT_TRUE(cell_is_blank(program.screen, 3, 9));
    EXPECT_EQ(program.screen.pixel(0, 599), 15);
}

TEST_F(Dialogue, port_prompt_repeats_until_1_to_10_and_shows_its_edit_mark_at_column_40)
{
    program.type_line("0");
    program.type_line("11");
    program.type_line("-1");
    program.type_line("abc");
    program.type_line("2.5");  // reads as 2
    EXPECT_EQ(ask_port_number(), 2);
    program.type_line("&HA");
    EXPECT_EQ(ask_port_number(), 10);
    program.type_line("9.6");
    EXPECT_EQ(ask_port_number(), 10);
    EXPECT_EQ(text_at(program.screen, 10, 10, 31, black), "Enter COM Port Number (1-10): 9");
}

TEST_F(Dialogue, run_length_accepts_only_1_60_and_1440_by_value)
{
    program.type_line("2");
    program.type_line("1.5");
    program.type_line("6e1");
    EXPECT_EQ(ask_run_length(), 60.0);
    program.type_line("60.0");
    EXPECT_EQ(ask_run_length(), 60.0);
    program.type_line("1440");
    EXPECT_EQ(ask_run_length(), 1440.0);
}

TEST_F(Dialogue, mode_letter_is_case_sensitive_and_blanks_are_kept)
{
    program.type_line("v");
    program.type_line("V ");
    program.type_line("t");
    program.type_line(" T");
    EXPECT_EQ(ask_mode_letter(), "T");
}

TEST_F(Dialogue, an_earlier_longer_answer_beyond_the_blank_run_stays_until_overwritten)
{
    // The run-length prompt is 48 cells and its blank run 46: columns 56 onward keep the old echo.
    program.type_line("12345");
    program.type_line("1");
    EXPECT_EQ(ask_run_length(), 1.0);
    EXPECT_EQ(text_at(program.screen, 14, 60, 3, black), "345");
}
