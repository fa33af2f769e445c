// Picture readouts: a template of literal text with one numeric field of "#"
// and "." ("V1= #.###"), the value formatted into that field, and the
// program-wide template held between begin_picture and end_picture.
#include <cmath>

#include "screen/graphics.h"
#include "text/value_format.h"

namespace {

struct PictureField {
    size_t integer_positions = 0;  // the "#" before the point
    bool has_point = false;
    size_t decimals = 0;  // the "#" after the point
};

bool starts_field(std::string_view picture_template, size_t position)
{
    const char c = picture_template[position];
    if (c == '#')
        return true;
    return c == '.' && position + 1 < picture_template.size() && picture_template[position + 1] == '#';
}

// Literal text from `position` up to the next field or the end; "_" makes the
// character after it literal. Characters of other field kinds the readouts
// never use ("!", "&", "\\", "+", "$$", "**", ",", "^") are kept as literal text.
std::string take_literal(std::string_view picture_template, size_t& position)
{
    std::string literal;
    while (position < picture_template.size() && !starts_field(picture_template, position)) {
        if (picture_template[position] == '_' && position + 1 < picture_template.size())
            ++position;
        literal += picture_template[position];
        ++position;
    }
    return literal;
}

size_t count_hashes(std::string_view picture_template, size_t& position)
{
    size_t count = 0;
    while (position < picture_template.size() && picture_template[position] == '#') {
        ++count;
        ++position;
    }
    return count;
}

PictureField take_field(std::string_view picture_template, size_t& position)
{
    PictureField field;
    field.integer_positions = count_hashes(picture_template, position);
    if (position < picture_template.size() && picture_template[position] == '.') {
        field.has_point = true;
        ++position;
        field.decimals = count_hashes(picture_template, position);
    }
    return field;
}

// The integer digits of a number (empty for an integer part of 0).
std::string integer_digits(const DecimalNumber& number)
{
    std::string digits;
    if (number.digits.empty())
        return digits;
    for (int64_t power = number.exponent; power >= 0; --power)
        digits += digit_at(number, power);
    return digits;
}

// The point and exactly `decimals` digits after it (nothing without a point).
std::string point_and_decimals(const DecimalNumber& number, const PictureField& field)
{
    if (!field.has_point)
        return {};
    std::string text = ".";
    for (size_t i = 1; i <= field.decimals; ++i)
        text += digit_at(number, -static_cast<int64_t>(i));
    return text;
}

// Fits or nearly fits: sign and integer digits, then point and decimals.
// Right-aligned in the field with a "0" before the point when room is left;
// a number too wide for the field is marked "%" and written at its own width.
std::string fixed_form(const DecimalNumber& rounded, bool negative, const PictureField& field)
{
    const std::string digits = integer_digits(rounded);
    const size_t width = digits.size() + (negative ? 1 : 0);
    std::string text;
    if (width <= field.integer_positions) {
        std::string integer_part = (negative ? "-" : "") + digits;
        if (digits.empty() && integer_part.size() < field.integer_positions)
            integer_part += '0';
        text.assign(field.integer_positions - integer_part.size(), ' ');
        text += integer_part;
    } else {
        text = "%";
        text += negative ? "-" : "";
        text += digits;
    }
    return text + point_and_decimals(rounded, field);
}

// How many integer digits the scaled form shows: W - 1, the first position
// being the sign's. A field of at most one position and no decimals would show
// no digit at all, so it shows one.
int64_t scaled_integer_digits(const PictureField& field)
{
    if (field.integer_positions >= 2)
        return static_cast<int64_t>(field.integer_positions) - 1;
    return field.decimals == 0 ? 1 : 0;
}

// Far too wide: the field's own shape with a power of ten. The first position
// holds the sign (or "0" in a one-position field), the rest W - 1 integer digits.
std::string scaled_form(const DecimalNumber& value, bool negative, const PictureField& field)
{
    const size_t width = field.integer_positions;
    const int64_t digit_count = scaled_integer_digits(field);
    DecimalNumber scaled = value;
    scaled.exponent = static_cast<int32_t>(digit_count - 1);
    int64_t power_of_ten = static_cast<int64_t>(value.exponent) - scaled.exponent;
    DecimalNumber rounded = round_at_power(scaled, -static_cast<int64_t>(field.decimals), HalfwayRule::away_from_zero);
    if (!rounded.digits.empty() && rounded.exponent > scaled.exponent) {
        // The carry made one integer digit too many: 99.99 became 100.0, so
        // shift one place and raise the power (the digits are a 1 and zeros).
        rounded.exponent = scaled.exponent;
        ++power_of_ten;
    }
    std::string text = "%";
    if (negative) {
        text += '-';
    } else if (width == 1 && digit_count == 0) {
        text += '0';
    } else if (width >= 2) {
        text += ' ';
    }
    for (int64_t power = digit_count - 1; power >= 0; --power)
        text += digit_at(rounded, power);
    text += point_and_decimals(rounded, field);
    text += 'E';
    text += power_of_ten < 0 ? '-' : '+';
    const std::string exponent_digits = std::to_string(power_of_ten < 0 ? -power_of_ten : power_of_ten);
    if (exponent_digits.size() > 1)
        text += '%';
    return text + exponent_digits;
}

std::string field_text(float value, const PictureField& field)
{
    const double widened = static_cast<double>(value);
    if (std::isnan(widened))
        return "%nan";
    if (std::isinf(widened))
        return widened < 0 ? "%-inf" : "%inf";
    const bool negative = widened < 0;
    // At most 16 significant digits rounded half up, then the field's decimals
    // rounded half away from zero, both on decimal digits.
    const DecimalNumber value_digits = round_significant(exact_decimal(widened), 16, HalfwayRule::away_from_zero);
    const DecimalNumber rounded =
        round_at_power(value_digits, -static_cast<int64_t>(field.decimals), HalfwayRule::away_from_zero);
    const size_t width = integer_digits(rounded).size() + (negative ? 1 : 0);
    if (width <= field.integer_positions + 3)
        return fixed_form(rounded, negative, field);
    return scaled_form(value_digits, negative, field);
}

// The text for one value starting at `position`: literal text, the field, and
// the literal text up to the next field or the end. A template without a
// field shows the value in its general form after the literal text.
std::string picture_text_from(std::string_view picture_template, size_t& position, float value)
{
    std::string text = take_literal(picture_template, position);
    if (position >= picture_template.size())
        return text + single_field_text(value);
    const PictureField field = take_field(picture_template, position);
    text += field_text(value, field);
    text += take_literal(picture_template, position);
    return text;
}

PictureWriter& program_picture_writer()
{
    static PictureWriter writer;
    return writer;
}

}  // namespace

std::string picture_text(std::string_view picture_template, float value)
{
    size_t position = 0;
    return picture_text_from(picture_template, position, value);
}

void PictureWriter::begin_picture(std::string_view picture_template)
{
    template_.assign(picture_template);
    next_ = 0;
    held_ = true;
}

void PictureWriter::picture_single(Screen& screen, float value, bool line_end, bool last)
{
    // A used-up template starts over; with none held the value stands alone.
    if (next_ >= template_.size())
        next_ = 0;
    const std::string text = picture_text_from(held_ ? std::string_view(template_) : std::string_view(), next_, value);
    screen.write_text(text, line_end);
    if (last) {
        template_.clear();
        next_ = 0;
        held_ = false;
    }
}

void PictureWriter::end_picture(Screen& screen)
{
    if (held_ && next_ < template_.size()) {
        const std::string rest = take_literal(template_, next_);
        if (!rest.empty())
            screen.write_text(rest, false);
    }
    template_.clear();
    next_ = 0;
    held_ = false;
}

void begin_picture(std::string_view picture_template) { program_picture_writer().begin_picture(picture_template); }

void picture_single(float value, bool line_end, bool last)
{
    program_picture_writer().picture_single(the_screen(), value, line_end, last);
}

void end_picture() { program_picture_writer().end_picture(the_screen()); }
