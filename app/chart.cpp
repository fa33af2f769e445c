// Draws the chart screen the sampling loop plots into.
#include "app/chart.h"

#include <array>
#include <string_view>

#include "app/conversion.h"
#include "app/dialogue.h"
#include "screen/graphics.h"
#include "text/value_format.h"

namespace {

struct ValueLabel {
    int32_t row;
    std::string_view volts;
    std::string_view degrees;
};

constexpr std::array<ValueLabel, 6> value_labels{{
    {4, "5.0", "225"},
    {10, "4.0", "175"},
    {16, "3.0", "125"},
    {23, "2.0", "75"},
    {29, "1.0", "25"},
    {35, "0.0", "-25"},
}};

constexpr std::string_view minutes_axis =
    "0       5      10      15     20      25     30      35     40      45     50      55     60";
constexpr std::string_view hours_axis =
    "0       2      4       6      8       10     12      14     16      18     20      22     24";

void draw_grid(double run_length_min)
{
    for (int32_t y = chart_top_y; y <= chart_bottom_y; y += 50)
        draw_line(static_cast<float>(chart_left_x), static_cast<float>(y), static_cast<float>(chart_right_x),
                  static_cast<float>(y), colour_light_grey, LineKind::line, style_solid);
    const int32_t step = run_length_min == 1440.0 ? 30 : 60;
    for (int32_t x = chart_left_x; x <= chart_right_x; x += step)
        draw_line(static_cast<float>(x), static_cast<float>(chart_top_y), static_cast<float>(x),
                  static_cast<float>(chart_bottom_y), colour_light_grey, LineKind::line, style_solid);
}

void write_axis_labels(const RunSettings& settings)
{
    write_at(36, 5, colour_black, settings.run_length_min == 1440.0 ? hours_axis : minutes_axis);
    const bool degrees = settings.mode_letter == "T";
    for (const ValueLabel& label : value_labels)
        write_at(label.row, 2, colour_black, degrees ? label.degrees : label.volts);
    if (degrees)
        write_at(20, 2, colour_black, "F");
    else
        write_at(19, 3, colour_black, "V");
}

}  // namespace

void draw_chart(const RunSettings& settings)
{
    draw_grid(settings.run_length_min);
    write_axis_labels(settings);
    // No line end here: one on row 37 would scroll the whole screen up a row.
    move_cursor(37, 2);
    set_text_colours(colour_black, colour_white);
    write_text("SW", false);
    pause_ms(1000);
}

void show_header_line(int32_t file_number)
{
    write_at(1, 2, colour_black, "DATALOGGER by Quelvane");
    write_at(1, 30, colour_black, "Hit ESC key to EXIT");
    write_at(1, 53, colour_black, join_text("Data File: ", data_file_name(file_number)));
    write_at(1, 77, colour_black, join_text("Image File: ", picture_name(file_number)));
}

void show_no_data_file_warning()
{
    // Row 3, columns 2-22: above the plot and left of the elapsed-time readout,
    // clear of every label and readout of the chart screen.
    write_at(3, 2, colour_red, "WARNING: NO DATA FILE");
}

void show_no_picture_warning()
{
    // Row 3, columns 67-93: right of the unit label, the free end of the row.
    write_at(3, 67, colour_red, "NO IMAGE FILE WILL BE SAVED");
}
