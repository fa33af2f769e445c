// Numbers as decimal text: the exact decimal expansion of a double, rounding on
// decimal digits, and the general form of data-file numbers ("2.56", "1e-005").
#include <bit>
#include <cmath>
#include <vector>

#include "text/value_format.h"

namespace {

// A non-negative big integer in base 10^9 limbs, least significant first.
// Decimal limbs make the final digit string a plain print of each limb.
using DecimalLimbs = std::vector<uint32_t>;
constexpr uint64_t limb_base = 1000000000;

void multiply_limbs(DecimalLimbs& limbs, uint32_t factor)
{
    uint64_t carry = 0;
    for (uint32_t& limb : limbs) {
        // limb < 2^30 and factor < 2^31, so the product and carry fit in 64 bits.
        const uint64_t product = static_cast<uint64_t>(limb) * factor + carry;
        limb = static_cast<uint32_t>(product % limb_base);
        carry = product / limb_base;
    }
    while (carry != 0) {
        limbs.push_back(static_cast<uint32_t>(carry % limb_base));
        carry /= limb_base;
    }
}

void multiply_by_power_of_two(DecimalLimbs& limbs, int32_t power)
{
    while (power > 0) {
        const int32_t step = power < 29 ? power : 29;
        multiply_limbs(limbs, uint32_t{1} << step);
        power -= step;
    }
}

void multiply_by_power_of_five(DecimalLimbs& limbs, int32_t power)
{
    constexpr uint32_t five_to_13 = 1220703125;
    while (power >= 13) {
        multiply_limbs(limbs, five_to_13);
        power -= 13;
    }
    uint32_t rest = 1;
    for (int32_t i = 0; i < power; ++i)
        rest *= 5;
    multiply_limbs(limbs, rest);
}

DecimalLimbs limbs_of(uint64_t value)
{
    DecimalLimbs limbs;
    while (value != 0) {
        limbs.push_back(static_cast<uint32_t>(value % limb_base));
        value /= limb_base;
    }
    return limbs;
}

std::string digits_of(const DecimalLimbs& limbs)
{
    std::string digits;
    for (size_t i = limbs.size(); i-- > 0;) {
        char group[9];
        uint32_t limb = limbs[i];
        for (int j = 8; j >= 0; --j) {
            group[j] = static_cast<char>('0' + limb % 10);
            limb /= 10;
        }
        digits.append(group, 9);
    }
    const size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? std::string() : digits.substr(first);
}

void strip_trailing_zeros(std::string& digits)
{
    const size_t last = digits.find_last_not_of('0');
    digits.erase(last == std::string::npos ? 0 : last + 1);
}

// Adds one to the last digit, carrying; all nines become "1" and the caller
// raises the exponent.
bool increment_digits(std::string& digits)
{
    for (size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return false;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
    digits.pop_back();
    return true;
}

bool any_nonzero_digit(const std::string& digits, size_t from)
{
    return digits.find_first_not_of('0', from) != std::string::npos;
}

// Whether dropping digits[keep...] rounds the kept part up; last_kept_odd
// decides exact ties under the halfway-to-even rule.
bool rounds_up(const std::string& digits, size_t keep, bool last_kept_odd, HalfwayRule rule)
{
    const char first_dropped = digits[keep];
    if (first_dropped != '5')
        return first_dropped > '5';
    if (any_nonzero_digit(digits, keep + 1))
        return true;
    return rule == HalfwayRule::away_from_zero || last_kept_odd;
}

void append_exponent(std::string& text, int32_t exponent)
{
    text += 'e';
    text += exponent < 0 ? '-' : '+';
    // |exponent| of a double's decimal is at most 324; at least three digits.
    const uint32_t magnitude = exponent < 0 ? 0u - static_cast<uint32_t>(exponent) : static_cast<uint32_t>(exponent);
    std::string digits = std::to_string(magnitude);
    if (digits.size() < 3)
        digits.insert(0, 3 - digits.size(), '0');
    text += digits;
}

std::string exponent_form(const DecimalNumber& rounded)
{
    std::string text(1, rounded.digits[0]);
    if (rounded.digits.size() > 1) {
        text += '.';
        text.append(rounded.digits, 1);
    }
    append_exponent(text, rounded.exponent);
    return text;
}

std::string plain_form(const DecimalNumber& rounded)
{
    if (rounded.exponent < 0) {
        return "0." + std::string(static_cast<size_t>(-1 - rounded.exponent), '0') + rounded.digits;
    }
    const size_t integer_digits = static_cast<size_t>(rounded.exponent) + 1;
    if (rounded.digits.size() <= integer_digits) {
        return rounded.digits + std::string(integer_digits - rounded.digits.size(), '0');
    }
    return rounded.digits.substr(0, integer_digits) + "." + rounded.digits.substr(integer_digits);
}

}  // namespace

DecimalNumber exact_decimal(double value)
{
    if (!std::isfinite(value) || value == 0.0)
        return {};
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const int32_t biased_exponent = static_cast<int32_t>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int32_t binary_exponent = -1074;  // subnormals
    if (biased_exponent != 0) {
        mantissa |= uint64_t{1} << 52;
        binary_exponent = biased_exponent - 1075;
    }
    // |value| = mantissa * 2^binary_exponent. A negative power of two becomes
    // mantissa * 5^k / 10^k, so the digits are those of an integer.
    DecimalLimbs limbs = limbs_of(mantissa);
    int32_t decimal_shift = 0;
    if (binary_exponent >= 0) {
        multiply_by_power_of_two(limbs, binary_exponent);
    } else {
        multiply_by_power_of_five(limbs, -binary_exponent);
        decimal_shift = -binary_exponent;
    }
    DecimalNumber number;
    number.digits = digits_of(limbs);
    number.exponent = static_cast<int32_t>(number.digits.size()) - 1 - decimal_shift;
    strip_trailing_zeros(number.digits);
    return number;
}

DecimalNumber round_at_power(const DecimalNumber& number, int64_t lowest_power, HalfwayRule rule)
{
    if (number.digits.empty())
        return number;
    // Digits to keep: those of powers exponent down to lowest_power.
    const int64_t keep = static_cast<int64_t>(number.exponent) - lowest_power + 1;
    if (keep >= static_cast<int64_t>(number.digits.size()))
        return number;
    if (keep < 0)
        return {};  // below half a unit of the lowest kept power
    const size_t kept_count = static_cast<size_t>(keep);
    const bool last_kept_odd = kept_count > 0 && (number.digits[kept_count - 1] - '0') % 2 == 1;
    DecimalNumber rounded{number.digits.substr(0, kept_count), number.exponent};
    if (rounds_up(number.digits, kept_count, last_kept_odd, rule)) {
        if (kept_count == 0)
            return {"1", static_cast<int32_t>(lowest_power)};
        if (increment_digits(rounded.digits))
            ++rounded.exponent;
    }
    strip_trailing_zeros(rounded.digits);
    if (rounded.digits.empty())
        return {};
    return rounded;
}

DecimalNumber round_significant(const DecimalNumber& number, int32_t significant_digits, HalfwayRule rule)
{
    const int32_t digits = significant_digits < 1 ? 1 : significant_digits;
    return round_at_power(number, static_cast<int64_t>(number.exponent) - (digits - 1), rule);
}

char digit_at(const DecimalNumber& number, int64_t power)
{
    const int64_t index = static_cast<int64_t>(number.exponent) - power;
    if (number.digits.empty() || index < 0 || index >= static_cast<int64_t>(number.digits.size()))
        return '0';
    return number.digits[static_cast<size_t>(index)];
}

std::string general_number_text(double value, int significant_digits)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    // At least one digit, as "%.0g" would; 800 covers every digit a double has.
    const int32_t precision = significant_digits < 1 ? 1 : (significant_digits > 800 ? 800 : significant_digits);
    // Exact ties at P digits round half to even: a value exactly halfway between
    // two P-digit decimals takes the one whose last digit is even.
    const DecimalNumber rounded = round_significant(exact_decimal(value), precision, HalfwayRule::to_even);
    if (rounded.digits.empty())
        return "0";  // negative zero too: no sign on a zero
    const int32_t x = rounded.exponent;
    std::string text = value < 0 ? "-" : "";
    text += (x < -4 || x >= precision) ? exponent_form(rounded) : plain_form(rounded);
    if (text.size() >= static_cast<size_t>(precision) + 8)
        return {};
    return text;
}

std::string single_field_text(float value) { return general_number_text(static_cast<double>(value), 7); }

std::string double_field_text(double value) { return general_number_text(value, 16); }
