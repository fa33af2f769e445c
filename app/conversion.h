// A reply's three readings as volts, degrees Fahrenheit and chart rows.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "app/link.h"

constexpr int32_t chart_top_y = 50;
constexpr int32_t chart_bottom_y = 550;

struct ConvertedReadings {
    std::array<float, 3> volts{};
    std::array<float, 3> temperatures_f{};
    std::array<int32_t, 3> rows{};
};

float reading_volts(int32_t reading);
int32_t clamp_reading(int32_t reading);
// Thermistor temperature for a clamped reading (1 to 1023).
float reading_temperature_f(int32_t clamped_reading);
// Nearest integer, halves to the even neighbour; values beyond +/-1e9 are clamped first.
int32_t round_half_even(double value);
// Chart height 0 to 500 of a clamped reading in mode "V" or of a temperature in mode "T".
int32_t volts_height(int32_t clamped_reading);
int32_t temperature_height(float temperature_f);

// Converts the record's readings; the record's AD values become the clamped ones.
ConvertedReadings convert_reply(ReadingRecord& record, const std::string& mode_letter);
