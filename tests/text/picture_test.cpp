// Picture readouts: the logger's templates row by row, other field shapes, and
// the template held by PictureWriter as seen on a screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "text/value_format.h"
#include "text_test_support.h"

TEST(PictureText, readout_templates_give_exactly_their_texts)
{
    const struct {
        const char* picture_template;
        float value;
        const char* text;
    } rows[] = {
        {"V1= #.###", 2.56f, "V1= 2.560"},
        {"V1= #.###", 0.0f, "V1= 0.000"},
        {"V1= #.###", 0.5f, "V1= 0.500"},
        {"V1= #.###", 5.115f, "V1= 5.115"},
        {"V1= #.###", 0.0005f, "V1= 0.001"},
        {"V1= #.###", 9.9994f, "V1= 9.999"},
        {"V1= #.###", 9.9995f, "V1= %10.000"},
        {"V1= #.###", 12.3456f, "V1= %12.346"},
        {"V1= #.###", 1234.0f, "V1= %1234.000"},
        {"V1= #.###", 12345.0f, "V1= %0.123E+5"},
        {"V1= #.###", 99999.0f, "V1= %0.100E+6"},
        {"V1= #.###", 1e10f, "V1= %0.100E+%11"},
        {"V1= #.###", -0.5f, "V1= -.500"},
        {"V1= #.###", -0.0001f, "V1= -.000"},
        {"V1= #.###", -1.5f, "V1= %-1.500"},
        {"V1= #.###", -123.0f, "V1= %-123.000"},
        {"V1= #.###", -1234.0f, "V1= %-.123E+4"},
        {"T1= ###.#", 72.25f, "T1=  72.3"},
        {"T1= ###.#", 72.35f, "T1=  72.3"},
        {"T1= ###.#", 5.0f, "T1=   5.0"},
        {"T1= ###.#", 0.04f, "T1=   0.0"},
        {"T1= ###.#", -0.04f, "T1=  -0.0"},
        {"T1= ###.#", -5.0f, "T1=  -5.0"},
        {"T1= ###.#", -99.94f, "T1= -99.9"},
        {"T1= ###.#", -100.0f, "T1= %-100.0"},
        {"T1= ###.#", 999.94f, "T1= 999.9"},
        {"T1= ###.#", 999.96f, "T1= %1000.0"},
        {"T1= ###.#", 123456.0f, "T1= %123456.0"},
        {"T1= ###.#", 1234567.0f, "T1= % 12.3E+5"},
        {"T1= ###.#", -123456.0f, "T1= %-12.3E+4"},
        {"T1= ###.#", 1e12f, "T1= % 10.0E+%11"},
        {"Elapsed Time: #####.###", 0.0f, "Elapsed Time:     0.000"},
        {"Elapsed Time: #####.###", 12.5f, "Elapsed Time:    12.500"},
        {"Elapsed Time: #####.###", 59.9996f, "Elapsed Time:    60.000"},
        {"Elapsed Time: #####.###", 86400.0f, "Elapsed Time: 86400.000"},
        {"Elapsed Time: #####.###", -1.0f, "Elapsed Time:    -1.000"},
        {"Elapsed Time: #####.###", 123456.5f, "Elapsed Time: %123456.500"},
        {"Elapsed Time: #####.###", 1234567.1f, "Elapsed Time: %1234567.125"},
        {"Elapsed Time: #####.###", 123456789.0f, "Elapsed Time: % 1234.568E+5"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(picture_text(row.picture_template, row.value), row.text)
            << row.picture_template << " with " << row.value;
    }
}

TEST(PictureText, other_templates_give_exactly_their_texts)
{
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* picture_template;
        float value;
        const char* text;
    } rows[] = {
        // Decimals round half away from zero on decimal digits: 0.0625 and 0.125
        // are exact binary values that binary arithmetic might round to even.
        {"#.###", 0.0625f, "0.063"},
        {"#.##", 0.125f, "0.13"},
        {"#.##", -0.125f, "-.13"},
        {"##.#", 0.25f, " 0.3"},
        {"##.#", 0.35f, " 0.3"},  // the single is 0.3499999...
        // Other field shapes.
        {"###", 12.5f, " 13"},
        {"###.", 12.5f, " 13."},
        {"###", -12.4f, "-12"},
        {".##", 0.5f, ".50"},
        {".##", -0.5f, "%-.50"},
        {".##", 5.5f, "%5.50"},
        {".##", 12345.0f, "%.12E+5"},
        {"T= ##.# deg", 12.54f, "T= 12.5 deg"},
        {"##.#", 1e20f, "% 1.0E+%20"},
        // Without decimals a one-position field keeps one digit of the scaled value.
        {"#", 123456.0f, "%1E+5"},
        {"#", -163456.0f, "%-2E+5"},
        // "_" makes the next character literal, and only that one.
        {"_#_#: #.#", 2.5f, "##: 2.5"},
        {"a_._#b #", 3.0f, "a.#b 3"},
        {"a_.#b", 3.0f, "a.3b"},
        {"x #_", 3.0f, "x 3_"},
        // Characters of field kinds not used here stay literal.
        {"+#.#", 2.5f, "+2.5"},
        {"$$#.#!&\\^,", 2.5f, "$$2.5!&\\^,"},
        // Without a field the value follows the text.
        {"V= ", 2.5f, "V= 2.5"},
        {"", 2.5f, "2.5"},
        // Values that are not finite are marked.
        {"#.###", inf, "%inf"},
        {"#.###", -inf, "%-inf"},
        {"V= #.###", std::numeric_limits<float>::quiet_NaN(), "V= %nan"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(picture_text(row.picture_template, row.value), row.text)
            << row.picture_template << " with " << row.value;
    }
}

namespace {

// Reads a field's text back as a number: "%" marks dropped, blanks skipped.
double read_back(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '%'), text.end());
    return std::strtod(text.c_str(), nullptr);
}

int64_t exponent_of(const std::string& text)
{
    const size_t e = text.find('E');
    if (e == std::string::npos)
        return 0;
    return std::lround(read_back(text.substr(e + 1)));
}

}  // namespace

TEST(PictureText, random_values_read_back_within_half_a_unit_of_the_last_decimal)
{
    const struct {
        const char* picture_template;
        size_t integer_positions;
        int decimals;
    } fields[] = {{"#.###", 1, 3}, {"###.#", 3, 1}, {"#####.###", 5, 3}, {"##.##", 2, 2}};
    std::mt19937 random(4242);
    std::uniform_real_distribution<float> mantissa(-10.0f, 10.0f);
    std::uniform_int_distribution<int> power(-6, 12);
    for (int i = 0; i < 20000; ++i) {
        const float value = mantissa(random) * std::pow(10.0f, static_cast<float>(power(random)));
        for (const auto& field : fields) {
            const std::string text = picture_text(field.picture_template, value);
            const size_t fitting_width = field.integer_positions + 1 + static_cast<size_t>(field.decimals);
            if (text[0] != '%') {
                ASSERT_EQ(text.size(), fitting_width) << text;
            }
            // Every form keeps its decimals, so its last digit is worth 10^(exponent - decimals).
            const double unit = std::pow(10.0, static_cast<double>(exponent_of(text) - field.decimals));
            const double tolerance = unit / 2 * (1 + 1e-9) + std::fabs(value) * 1e-15;
            ASSERT_NEAR(read_back(text), value, tolerance) << field.picture_template << " " << text;
        }
    }
}

namespace {

// A value for the writer, and whether a line end follows it and it is the template's last.
struct Value {
    float number;
    bool line_end = false;
    bool last = false;
};

// The writer draws on one screen; the text it should have drawn is written plainly on the other.
struct WriterScreens {
    ErrorStatus status;
    Screen actual{status};
    Screen expected{status};
    PictureWriter writer;

    WriterScreens()
    {
        for (Screen* screen : {&actual, &expected}) {
            screen->set_text_colours(4, 15);
            screen->move_cursor(5, 20);
        }
    }
    void give(const Value& v) { writer.picture_single(actual, v.number, v.line_end, v.last); }
};

}  // namespace

TEST(PictureWriter, values_fill_the_fields_in_turn_and_end_writes_the_text_left)
{
    const struct {
        const char* picture_template;
        std::vector<Value> values;
        std::vector<Value> after_end;
        const char* text;
        bool line_end;
    } rows[] = {
        {"T1= ###.#", {{72.25f, true, true}}, {}, "T1=  72.3", true},
        {"V= #.# ok", {{1.0f}, {2.0f, true}}, {}, "V= 1.0 okV= 2.0 ok", true},  // used up: starts again
        {"a #.# b ## c", {{1.0f}, {2.0f}, {3.0f}}, {}, "a 1.0 b  2 ca 3.0 b ", false},
        {"lead #.#", {}, {}, "lead ", false},
        // The last value drops the template: a value after it stands alone in its general form.
        {"V= #.#", {{1.0f, false, true}}, {{2.5f}}, "V= 1.02.5", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.picture_template);
        WriterScreens s;
        s.writer.begin_picture(row.picture_template);
        for (const Value& v : row.values)
            s.give(v);
        s.writer.end_picture(s.actual);
        for (const Value& v : row.after_end)
            s.give(v);
        s.expected.write_text(row.text, row.line_end);
        EXPECT_TRUE(same_pixels(s.actual, s.expected));
        EXPECT_EQ(s.actual.cursor_position(), s.expected.cursor_position());
    }
}

TEST(PictureWriter, begin_replaces_the_template_held_before)
{
    WriterScreens s;
    s.writer.begin_picture("a #.# b #.#");
    s.give({1.0f});
    s.writer.begin_picture("c ##");
    s.give({2.0f, false, true});
    s.expected.write_text("a 1.0 b c  2", false);
    EXPECT_TRUE(same_pixels(s.actual, s.expected));
}
