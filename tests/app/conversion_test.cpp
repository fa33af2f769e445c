// Reading conversion: volts, clamping, the thermistor formula and chart rows.
#include "app/conversion.h"

#include <cmath>
#include <utility>

#include "text/value_format.h"

#include <gtest/gtest.h>

// Each row: the reading (or degrees, for temperature_height) and what each conversion makes of it.
TEST(ReadingConversion, readings_convert_to_volts_clamped_readings_and_chart_heights)
{
    for (const auto& [reading, volts] :
         {std::pair{0, 0.0f}, {1, 0.005f}, {1023, 5.115f}, {1024, 5.12f}, {-5, -0.025f}, {512, 2.56f}})
        EXPECT_EQ(reading_volts(reading), volts) << "volts of " << reading;  // from the unclamped reading
    for (const auto& [reading, clamped] :
         {std::pair{-2147483647 - 1, 1}, {0, 1}, {1, 1}, {1023, 1023}, {1024, 1023}, {2147483647, 1023}})
        EXPECT_EQ(clamp_reading(reading), clamped) << reading;
    for (const auto& [reading, height] :
         {std::pair{1, 0}, {3, 2}, {5, 2}, {511, 256}, {513, 256}, {1000, 500}, {1001, 500}, {1023, 500}})
        EXPECT_EQ(volts_height(reading), height) << "volts height of " << reading;
    // Two pixels a degree from -25, halves to even: 0.25 gives 50.5 and so 50, 0.75 gives 51.5 and so 52.
    for (const auto& [degrees, height] : {std::pair{77.00001f, 204},
                                          {-25.0f, 0},
                                          {-30.0f, 0},
                                          {225.0f, 500},
                                          {639.4339f, 500},
                                          {0.25f, 50},
                                          {0.75f, 52}})
        EXPECT_EQ(temperature_height(degrees), height) << "temperature height of " << degrees;
    for (const auto& [value, rounded] : {std::pair{0.5, 0},
                                         {1.5, 2},
                                         {2.5, 2},
                                         {-2.5, -2},
                                         {2.4999, 2},
                                         {2.5001, 3},
                                         {1e300, 1'000'000'000},
                                         {std::nan(""), 0}})
        EXPECT_EQ(round_half_even(value), rounded) << value;
}

TEST(ReadingConversion, temperatures_match_the_known_figures_to_the_bit)
{
    // The figures as the data file writes them, seven significant digits.
    for (const auto& [reading, text] : {std::pair{1, "639.4339"}, {1023, "-104.6639"}, {512, "77.00001"}})
        EXPECT_EQ(single_field_text(reading_temperature_f(reading)), text);
    EXPECT_EQ(reading_temperature_f(512), 77.00001f);
    for (int32_t reading = 1; reading <= 1023; ++reading)
        EXPECT_TRUE(std::isfinite(reading_temperature_f(reading))) << reading;
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
