// The run settings the operator chooses, the logger's fixed texts, and the
// names derived from the file number.
#pragma once
#include <cstdint>
#include <string>

struct RunSettings {
    int32_t port_number = 0;
    double run_length_min = 0.0;  // exactly 1, 60 or 1440
    std::string unit_label;       // "Seconds", "Minutes" or "Hours"
    std::string mode_letter;      // "V" or "T"
    int32_t file_number = 0;      // the data file's and the picture's; beyond 999 none
};

// Palette indices the logger uses.
enum : int32_t {
    colour_black = 0,
    colour_blue = 1,
    colour_green = 2,
    colour_red = 4,
    colour_light_grey = 7,
    colour_dark_grey = 8,
    colour_yellow = 14,
    colour_white = 15,
};

constexpr int32_t first_port_number = 1;
constexpr int32_t last_port_number = 10;
constexpr int32_t data_channel = 1;
constexpr int32_t serial_channel = 2;
constexpr int32_t last_file_number = 999;

bool is_allowed_port_number(int32_t port_number);
bool is_allowed_run_length(double run_length_min);
bool is_allowed_mode_letter(const std::string& mode_letter);
// "Seconds" for 1, "Minutes" for 60, "Hours" for 1440.
std::string unit_label_for(double run_length_min);
// Seconds in one unit of the elapsed time: 1, 60 or 3600.
double seconds_per_unit(double run_length_min);

// "COM<n>:38400,n,8,1,cs0,cd0,ds0,rs".
std::string open_string_for_port(int32_t port_number);

// The file number with at least three digits: 7 gives "007", 101 gives "101".
std::string three_digit_number(int32_t file_number);
std::string data_file_name(int32_t file_number);  // "DATAnnn.CSV"
std::string picture_name(int32_t file_number);    // "BMPnnn.BMP"
