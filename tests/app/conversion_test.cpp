// Reading conversion: volts, clamping, the thermistor formula and chart rows.
#include "app/conversion.h"

#include <cmath>

#include "text/value_format.h"

#include <gtest/gtest.h>

TEST(ReadingConversion, volts_come_from_the_unclamped_reading)
{
    EXPECT_EQ(reading_volts(0), 0.0f);
    EXPECT_EQ(reading_volts(1), 0.005f);
    EXPECT_EQ(reading_volts(1023), 5.115f);
    EXPECT_EQ(reading_volts(1024), 5.12f);
    EXPECT_EQ(reading_volts(-5), -0.025f);
    EXPECT_EQ(reading_volts(512), 2.56f);
}

TEST(ReadingConversion, readings_are_clamped_to_1_through_1023)
{
    EXPECT_EQ(clamp_reading(-2147483647 - 1), 1);
    EXPECT_EQ(clamp_reading(0), 1);
    EXPECT_EQ(clamp_reading(1), 1);
    EXPECT_EQ(clamp_reading(1023), 1023);
    EXPECT_EQ(clamp_reading(1024), 1023);
    EXPECT_EQ(clamp_reading(2147483647), 1023);
}

TEST(ReadingConversion, temperatures_match_the_known_figures_to_the_bit)
{
    // The figures as the data file writes them, seven significant digits.
    EXPECT_EQ(single_field_text(reading_temperature_f(1)), "639.4339");
    EXPECT_EQ(single_field_text(reading_temperature_f(1023)), "-104.6639");
    EXPECT_EQ(single_field_text(reading_temperature_f(512)), "77.00001");
    EXPECT_EQ(reading_temperature_f(512), 77.00001f);
    for (int32_t reading = 1; reading <= 1023; ++reading)
        EXPECT_TRUE(std::isfinite(reading_temperature_f(reading))) << reading;
}

TEST(ReadingConversion, rounding_takes_halves_to_even)
{
    EXPECT_EQ(round_half_even(0.5), 0);
    EXPECT_EQ(round_half_even(1.5), 2);
    EXPECT_EQ(round_half_even(2.5), 2);
    EXPECT_EQ(round_half_even(-2.5), -2);
    EXPECT_EQ(round_half_even(2.4999), 2);
    EXPECT_EQ(round_half_even(2.5001), 3);
    EXPECT_EQ(round_half_even(1e300), 1'000'000'000);
    EXPECT_EQ(round_half_even(std::nan("")), 0);
}

TEST(ReadingConversion, volts_heights_halve_the_reading_and_stop_at_500)
{
    EXPECT_EQ(volts_height(1), 0);
    EXPECT_EQ(volts_height(3), 2);
    EXPECT_EQ(volts_height(5), 2);
    EXPECT_EQ(volts_height(511), 256);
    EXPECT_EQ(volts_height(513), 256);
    EXPECT_EQ(volts_height(1000), 500);
    EXPECT_EQ(volts_height(1001), 500);
    EXPECT_EQ(volts_height(1023), 500);
}

TEST(ReadingConversion, temperature_heights_are_two_pixels_per_degree_from_minus_25)
{
    EXPECT_EQ(temperature_height(77.00001f), 204);
    EXPECT_EQ(temperature_height(-25.0f), 0);
    EXPECT_EQ(temperature_height(-30.0f), 0);
    EXPECT_EQ(temperature_height(225.0f), 500);
    EXPECT_EQ(temperature_height(639.4339f), 500);
    EXPECT_EQ(temperature_height(0.25f), 50);  // 50.5 goes to the even 50
    EXPECT_EQ(temperature_height(0.75f), 52);  // 51.5 goes to the even 52
}

TEST(ReadingConversion, a_reply_converts_in_both_modes_alike_but_for_the_rows)
{
    ReadingRecord volts_record{"X", 0, 1, 0, 512, 1024, 1536};
    ReadingRecord degrees_record = volts_record;
    const ConvertedReadings volts = convert_reply(volts_record, "V");
    const ConvertedReadings degrees = convert_reply(degrees_record, "T");

    EXPECT_EQ(volts.volts, degrees.volts);
    EXPECT_EQ(volts.temperatures_f, degrees.temperatures_f);
    EXPECT_EQ(volts.volts[0], 0.0f);
    EXPECT_EQ(volts.volts[2], 5.12f);
    EXPECT_EQ(volts_record.ad1, 1);
    EXPECT_EQ(volts_record.ad2, 512);
    EXPECT_EQ(volts_record.ad3, 1023);
    EXPECT_EQ(volts_record.checksum, 1536);  // untouched
    EXPECT_EQ(volts.rows, (std::array<int32_t, 3>{550, 294, 50}));
    EXPECT_EQ(degrees.rows, (std::array<int32_t, 3>{50, 346, 550}));
}

TEST(ReadingRules, checksum_sums_in_32_bits_and_marker_must_be_exactly_x)
{
    EXPECT_TRUE(checksum_holds({"X", 12, 0, 512, 600, 700, 1812}));
    EXPECT_TRUE(checksum_holds({"", 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(checksum_holds({"X", 12, 0, 512, 600, 700, 1813}));
    // A hostile sum wraps around instead of overflowing.
    EXPECT_TRUE(checksum_holds({"X", 0, 1, 2147483647, 0, 0, -2147483647 - 1}));
    EXPECT_TRUE(marker_holds({"X", 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(marker_holds({"x", 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(marker_holds({"X ", 0, 0, 0, 0, 0, 0}));
}
