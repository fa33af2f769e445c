// Allowed answers, open strings and file names of a logger run.
#include "app/run_settings.h"

#include <array>
#include <string_view>

#include "text/value_format.h"

namespace {

// Each run length and the unit its elapsed time is shown in.
struct RunLengthUnit {
    double run_length_min;
    std::string_view unit_label;
    double seconds_per_unit;
};

constexpr std::array<RunLengthUnit, 3> run_length_units{{
    {1.0, "Seconds", 1.0},
    {60.0, "Minutes", 60.0},
    {1440.0, "Hours", 3600.0},
}};

// Any other length (none is allowed) counts in seconds.
const RunLengthUnit& unit_of(double run_length_min)
{
    for (const RunLengthUnit& unit : run_length_units)
        if (unit.run_length_min == run_length_min)
            return unit;
    return run_length_units[0];
}

}  // namespace

bool is_allowed_port_number(int32_t port_number)
{
    return port_number >= first_port_number && port_number <= last_port_number;
}

bool is_allowed_run_length(double run_length_min) { return unit_of(run_length_min).run_length_min == run_length_min; }

bool is_allowed_mode_letter(const std::string& mode_letter) { return mode_letter == "V" || mode_letter == "T"; }

std::string unit_label_for(double run_length_min) { return std::string(unit_of(run_length_min).unit_label); }

double seconds_per_unit(double run_length_min) { return unit_of(run_length_min).seconds_per_unit; }

std::string open_string_for_port(int32_t port_number)
{
    return join_text(join_text("COM", int_to_text(port_number)), ":38400,n,8,1,cs0,cd0,ds0,rs");
}

std::string three_digit_number(int32_t file_number)
{
    const std::string digits = int_to_text(file_number);
    return join_text(repeat_char(3 - text_length(digits), "0"), digits);
}

std::string data_file_name(int32_t file_number)
{
    return join_text(join_text("DATA", three_digit_number(file_number)), ".CSV");
}

std::string picture_name(int32_t file_number)
{
    return join_text(join_text("BMP", three_digit_number(file_number)), ".BMP");
}
