// Fuzzes the data-file number forms and the picture readouts over arbitrary
// float and double bit patterns (infinities, NaN, subnormals, negative zero).
// Input: 8 bytes of a double, 4 of a float, one byte of precision and flags,
// then a picture template.
// Properties: a finite number's general form is the C library's "%.Pg" with a
// three-digit exponent (no sign on zero); a form that would need P + 8
// characters or more is empty; picture texts stay within a bound set by their
// template; the held template of the screen's picture writer survives any order of use.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "screen/screen.h"
#include "text/value_format.h"

namespace {

// "%.Pg" of the C library, its exponent widened to three digits.
std::string reference_general(double value, int precision)
{
    if (value == 0.0)
        return "0";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    std::string text = buffer;
    const size_t e = text.find('e');
    if (e != std::string::npos) {
        std::string digits = text.substr(e + 2);
        if (digits.size() < 3)
            digits.insert(0, 3 - digits.size(), '0');
        text = text.substr(0, e + 2) + digits;
    }
    return text;
}

void check_general_form(double value, int precision)
{
    const std::string text = general_number_text(value, precision);
    if (std::isnan(value)) {
        FUZZ_CHECK(text == "nan");
        return;
    }
    if (std::isinf(value)) {
        FUZZ_CHECK(text == (value < 0 ? "-inf" : "inf"));
        return;
    }
    const std::string expected = reference_general(value, precision);
    if (expected.size() >= static_cast<size_t>(precision) + 8)
        FUZZ_CHECK(text.empty());
    else
        FUZZ_CHECK(text == expected);
}

// Literal text, the field's own width and a sign, point, exponent and their
// marks: a picture text is never longer than its template plus this.
constexpr size_t picture_overhead = 24;

void check_picture(std::string_view picture_template, float value)
{
    const std::string text = picture_text(picture_template, value);
    FUZZ_CHECK(text.size() <= picture_template.size() + picture_overhead);
}

// A value that fits the readout's field shows exactly W + 1 + F characters after its literal text.
void check_readout(std::string_view literal, int integer_positions, int decimals, float value)
{
    const std::string picture_template = std::string(literal) +
                                         std::string(static_cast<size_t>(integer_positions), '#') + "." +
                                         std::string(static_cast<size_t>(decimals), '#');
    const std::string text = picture_text(picture_template, value);
    FUZZ_CHECK(text.compare(0, literal.size(), literal) == 0);
    const double limit = std::pow(10.0, integer_positions - (value < 0 ? 1 : 0)) - 0.5 * std::pow(10.0, -decimals);
    const double magnitude = std::fabs(static_cast<double>(value));
    // Values right at the limit are left out: which side they round to is the formatter's to decide.
    if (std::isfinite(value) && magnitude < limit * 0.99999)
        FUZZ_CHECK(text.size() == literal.size() + static_cast<size_t>(integer_positions + 1 + decimals));
    else if (!std::isfinite(value) || magnitude > limit * 1.00001)
        FUZZ_CHECK(text.size() > literal.size() && text[literal.size()] == '%');
}

void check_picture_writer(std::string_view picture_template, float value, uint8_t flags)
{
    static ErrorStatus status;
    static Screen screen{status};
    PictureWriter writer;
    writer.begin_picture(picture_template);
    for (int i = 0; i < 3; ++i)
        writer.picture_single(screen, value, (flags >> i) & 1u, (flags >> (i + 3)) & 1u);
    writer.end_picture(screen);
    const CellPosition cursor = screen.cursor_position();
    FUZZ_CHECK(cursor.row >= 1 && cursor.row <= text_rows && cursor.column >= 1 && cursor.column <= text_columns);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 13)
        return 0;
    double wide = 0;
    float narrow = 0;
    std::memcpy(&wide, data, sizeof wide);
    std::memcpy(&narrow, data + 8, sizeof narrow);
    const uint8_t flags = data[12];
    const std::string_view picture_template(reinterpret_cast<const char*>(data + 13), size - 13);

    FUZZ_CHECK(double_field_text(wide) == general_number_text(wide, 16));
    FUZZ_CHECK(single_field_text(narrow) == general_number_text(static_cast<double>(narrow), 7));
    check_general_form(wide, 16);
    check_general_form(static_cast<double>(narrow), 7);
    check_general_form(wide, 1 + flags % 24);

    check_readout("V1= ", 1, 3, narrow);
    check_readout("T1= ", 3, 1, narrow);
    check_readout("Elapsed Time: ", 5, 3, narrow);
    check_picture(picture_template, narrow);
    check_picture(picture_template, static_cast<float>(wide));
    check_picture_writer(picture_template, narrow, flags);
    return 0;
}
