// Exact decimal expansion, decimal rounding and the general form of data-file numbers.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "text/value_format.h"

namespace {

// The digits and exponent of std::to_chars' scientific text, trailing zeros dropped.
DecimalNumber decimal_from_scientific(double value, int precision)
{
    char buffer[1200];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, precision);
    EXPECT_EQ(result.ec, std::errc());
    const std::string text(buffer, result.ptr);
    const size_t e = text.find('e');
    DecimalNumber number;
    for (size_t i = 0; i < e; ++i)
        if (text[i] != '.')
            number.digits += text[i];
    number.digits.erase(number.digits.find_last_not_of('0') + 1);
    number.exponent = std::stoi(text.substr(e + 1));
    if (number.digits.empty())
        number.exponent = 0;
    return number;
}

}  // namespace

TEST(ExactDecimal, extremes_match_an_exact_reference)
{
    for (double value : {std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                         std::numeric_limits<double>::denorm_min(), 1e308, 1e-300, 9007199254740993.0,
                         static_cast<double>(std::numeric_limits<float>::max()),
                         static_cast<double>(std::numeric_limits<float>::denorm_min())}) {
        EXPECT_EQ(exact_decimal(value), decimal_from_scientific(value, 800)) << value;
    }
    EXPECT_EQ(exact_decimal(-0.0625), (DecimalNumber{"625", -2}));
    for (double value : {0.0, -0.0, std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_EQ(exact_decimal(value), DecimalNumber{}) << value;
}

TEST(DecimalRounding, rounds_at_a_power_by_its_halfway_rule_carrying_through_nines)
{
    const HalfwayRule away = HalfwayRule::away_from_zero;
    const HalfwayRule even = HalfwayRule::to_even;
    const struct {
        DecimalNumber value;
        int64_t power;
        HalfwayRule rule;
        DecimalNumber rounded;
    } rows[] = {
        // 99.995 carries through its nines and raises the exponent.
        {{"99995", 1}, -2, away, {"1", 2}},
        {{"99995", 1}, -2, even, {"1", 2}},
        {{"99995", 1}, -3, even, {"99995", 1}},
        {{"12049", 0}, -2, away, {"12", 0}},  // 1.2049 to 1.20, kept without its trailing zero
        // The rules differ only on exact ties.
        {{"25", 0}, 0, even, {"2", 0}},
        {{"25", 0}, 0, away, {"3", 0}},
        {{"2500001", 0}, 0, even, {"3", 0}},
        {{"35", 0}, 0, even, {"4", 0}},
        // Values below the kept digits round to zero or one unit: 0.0005 to three decimals.
        {{"5", -4}, -3, away, {"1", -3}},
        {{"5", -4}, -3, even, {}},
        {{"49", -4}, -3, away, {}},
        {{"9", -6}, -3, away, {}},
        {{}, -3, away, {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(round_at_power(row.value, row.power, row.rule), row.rounded)
            << row.value.digits << "e" << row.value.exponent << " at " << row.power;
}

TEST(GeneralNumberText, single_examples)
{
    const struct {
        float value;
        const char* text;
    } rows[] = {
        {2.56f, "2.56"},
        {0.005f, "0.005"},
        {3.0f, "3"},
        {0.1f, "0.1"},
        {72.34567f, "72.34567"},
        {1234567.1f, "1234567"},
        {12345678.0f, "1.234568e+007"},
        {0.00001f, "1e-005"},
        {-5.5f, "-5.5"},
        {0.0f, "0"},
        {5.115f, "5.115"},
        {77.00001f, "77.00001"},
        {639.4339f, "639.4339"},
        {-104.6639f, "-104.6639"},
        {0.005f * 512.0f, "2.56"},
        {0.005f * 1023.0f, "5.115"},
        {1e10f, "1e+010"},
        {0.0001f, "0.0001"},
        {1e-40f, "9.999946e-041"},
        {3.4028235e38f, "3.402823e+038"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(single_field_text(row.value), row.text) << row.value;
}

TEST(GeneralNumberText, double_examples)
{
    const struct {
        double value;
        const char* text;
    } rows[] = {
        {0.05, "0.05"},
        {1.1, "1.1"},
        {12.345, "12.345"},
        {1.0 / 3.0, "0.3333333333333333"},
        {0.1 + 0.2, "0.3"},
        {86400.0, "86400"},
        {1.049999999999272, "1.049999999999272"},
        {-2.0 / 3.0, "-0.6666666666666666"},
        {1e15, "1000000000000000"},
        {1e16, "1e+016"},
        {1.5e-7, "1.5e-007"},
        {1e308, "1e+308"},
        {-4.9406564584124654e-324, "-4.940656458412465e-324"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(double_field_text(row.value), row.text) << row.value;
}

TEST(GeneralNumberText, rounds_to_the_precision_ties_to_even_then_picks_the_form)
{
    const struct {
        double value;
        int32_t precision;
        const char* text;
    } rows[] = {
        // The form is chosen after rounding: 9999999.5 becomes 10000000, whose
        // exponent 7 asks for the exponent form; 0.000099999996 becomes 0.0001,
        // whose exponent -4 still takes the plain form.
        {9999999.5, 7, "1e+007"},
        {9999999.4, 7, "9999999"},
        {0.000099999996, 7, "0.0001"},
        {0.00009999999, 7, "9.999999e-005"},
        // Exact ties round to the even digit.
        {16777215.0, 7, "1.677722e+007"},
        {12345665.0, 7, "1.234566e+007"},
        {12345675.0, 7, "1.234568e+007"},
        {0.125, 2, "0.12"},
        {2.5, 1, "2"},
        {-3.5, 1, "-4"},
        // Odd inputs give a safe text; a precision below one acts as one digit.
        {std::numeric_limits<double>::infinity(), 16, "inf"},
        {-std::numeric_limits<double>::infinity(), 16, "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), 7, "nan"},
        {-0.0, 16, "0"},
        {123.0, 0, "1e+002"},
        {123.0, -5, "1e+002"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(general_number_text(row.value, row.precision), row.text) << row.value << " to " << row.precision;
}
