// Reading conversion: volts from the raw value, a B-parameter thermistor
// formula for degrees Fahrenheit, and chart heights rounded halves to even.
#include "app/conversion.h"

#include <cmath>

namespace {

constexpr int32_t lowest_reading = 1;
constexpr int32_t highest_reading = 1023;
constexpr int32_t highest_height = 500;

int32_t limit_height(int32_t height)
{
    if (height > highest_height)
        return highest_height;
    if (height < 0)
        return 0;
    return height;
}

}  // namespace

float reading_volts(int32_t reading) { return static_cast<float>(static_cast<double>(reading) * 0.005); }

int32_t clamp_reading(int32_t reading)
{
    if (reading < lowest_reading)
        return lowest_reading;
    if (reading > highest_reading)
        return highest_reading;
    return reading;
}

float reading_temperature_f(int32_t clamped_reading)
{
    // The order of operations is part of the result: each step in double, one
    // rounding to single at the end. A 10 kOhm divider read by a 1024-step
    // converter, B = 4038 K, R25 = 10 kOhm (0.01312577 = 10000 * e^(-4038/298.15)).
    double q = 1024.0 / static_cast<double>(clamped_reading);
    q = q + (-1.0);
    double resistance = 10000.0 / q;
    resistance = resistance / 0.01312577;
    const double kelvin = 4038.0 / std::log(resistance);
    return static_cast<float>(kelvin * 1.8 + (-459.67));
}

int32_t round_half_even(double value)
{
    if (std::isnan(value))
        return 0;
    if (value > 1e9)
        return 1'000'000'000;
    if (value < -1e9)
        return -1'000'000'000;
    const double lower = std::floor(value);
    const double fraction = value - lower;
    double nearest = lower;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(lower, 2.0) != 0.0))
        nearest = lower + 1.0;
    return static_cast<int32_t>(nearest);
}

int32_t volts_height(int32_t clamped_reading)
{
    return limit_height(round_half_even(static_cast<double>(clamped_reading) / 2.0));
}

int32_t temperature_height(float temperature_f)
{
    // 2T + 50 is exact in double for any single T, so the only rounding is the final one.
    return limit_height(round_half_even(2.0 * static_cast<double>(temperature_f) + 50.0));
}

ConvertedReadings convert_reply(ReadingRecord& record, const std::string& mode_letter)
{
    ConvertedReadings converted;
    std::array<int32_t*, 3> readings{&record.ad1, &record.ad2, &record.ad3};
    for (size_t i = 0; i < readings.size(); ++i)
        converted.volts[i] = reading_volts(*readings[i]);
    for (int32_t* reading : readings)
        *reading = clamp_reading(*reading);
    for (size_t i = 0; i < readings.size(); ++i) {
        converted.temperatures_f[i] = reading_temperature_f(*readings[i]);
        const int32_t height =
            mode_letter == "T" ? temperature_height(converted.temperatures_f[i]) : volts_height(*readings[i]);
        converted.rows[i] = chart_bottom_y - height;
    }
    return converted;
}
