// The start-up dialogue: banner lines, then the port, run length and mode
// prompts, each repeated until the answer is one the logger accepts.
#include "app/dialogue.h"

#include "screen/graphics.h"
#include "text/field_reader.h"

const std::string_view title_banner = "QUELVANE KORVELIN DATALOGGER - SERIAL DATA ACQUISITION PROGRAM";
const std::string_view web_site_line = "For more information visit the web site: quelvane.com           ";
const std::string_view toolchain_line = "Program built with the GNU C++ compiler and SDL2.0: see www.libsdl.org ";

namespace {

constexpr int32_t dialogue_column = 10;

void blank_run(int32_t row, int32_t column, int32_t blank_count, int32_t foreground)
{
    move_cursor(row, column);
    set_text_colours(foreground, colour_white);
    write_text(std::string(static_cast<size_t>(blank_count), ' '), true);
    move_cursor(row, column);
    set_text_colours(foreground, colour_white);
}

// Blanks the prompt's place, shows the prompt and lets the operator type a line.
void prompt_at(int32_t row, int32_t blank_count, std::string_view prompt)
{
    blank_run(row, dialogue_column, blank_count, colour_black);
    enter_line(prompt, false, true);
}

}  // namespace

void write_at(int32_t row, int32_t column, int32_t foreground, std::string_view text)
{
    move_cursor(row, column);
    set_text_colours(foreground, colour_white);
    write_text(text, true);
}

void blank_then_write(int32_t row, int32_t column, int32_t blank_count, int32_t foreground, std::string_view text)
{
    blank_run(row, column, blank_count, foreground);
    write_text(text, true);
}

void show_start_up_screen()
{
    set_text_colours(colour_black, colour_white);
    clear_window();
    move_mouse(400, 300, 0);
    write_at(3, dialogue_column, colour_black, title_banner);
    write_at(5, dialogue_column, colour_black,
             "This program was written to record data for general purpose applications");
    write_at(6, dialogue_column, colour_black, web_site_line);
    write_at(7, dialogue_column, colour_black, toolchain_line);
    write_at(8, dialogue_column, colour_black,
             "Data collected from a Picaxe-08M2 using a Serial Port (N,8,1) 38400 baud");
    write_at(9, dialogue_column, colour_black, "Power must be applied to DATALOG module before continuing!");
}

int32_t ask_port_number()
{
    for (;;) {
        prompt_at(10, 30, "Enter COM Port Number (1-10): ");
        const int32_t port_number = read_int_field();
        if (is_allowed_port_number(port_number))
            return port_number;
    }
}

double ask_run_length()
{
    for (;;) {
        prompt_at(14, 46, "Enter datalog duration (1, 60 or 1440 minutes): ");
        const double run_length_min = read_double_field();
        if (is_allowed_run_length(run_length_min))
            return run_length_min;
    }
}

std::string ask_mode_letter()
{
    for (;;) {
        prompt_at(15, 46, "Enter data acquisition mode: V for Voltage, or T for Temperature: ");
        std::string mode_letter = read_text_field();
        if (is_allowed_mode_letter(mode_letter))
            return mode_letter;
    }
}

void announce_start()
{
    blank_then_write(16, dialogue_column, 32, colour_black, "Data logging is now starting...");
    pause_ms(1000);
    clear_window();
}
