// Values as text: data-file fields, picture readouts, the time of day and
// small text helpers.
#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

class ChannelTable;
class Screen;

// A non-negative decimal number: digits[0] is the digit of 10^exponent, each
// next digit one power lower. No leading or trailing zeros; zero has no digits.
struct DecimalNumber {
    std::string digits;
    int32_t exponent = 0;
    bool operator==(const DecimalNumber&) const = default;
};

enum class HalfwayRule { to_even, away_from_zero };

// The exact decimal value of |value| (every finite double is a finite decimal).
// Non-finite values give zero; callers deal with them first.
DecimalNumber exact_decimal(double value);
// Keeps the digits of 10^lowest_power and above, rounding on the dropped digits.
DecimalNumber round_at_power(const DecimalNumber& number, int64_t lowest_power, HalfwayRule rule);
DecimalNumber round_significant(const DecimalNumber& number, int32_t significant_digits, HalfwayRule rule);
// The digit of 10^power, '0' outside the stored digits.
char digit_at(const DecimalNumber& number, int64_t power);

// General decimal form with `significant_digits` (7 for singles, 16 for doubles),
// three-digit exponents, trailing zeros removed: "2.56", "1.234568e+007", "1e-005".
// Empty when the text would need significant_digits + 8 characters or more.
std::string general_number_text(double value, int significant_digits);
std::string single_field_text(float value);
std::string double_field_text(double value);

// Data-file fields: the field, then "," or (row_end) "\r\n".
void write_text_field(ChannelTable& channels, int32_t channel, std::string_view text, bool row_end);
void write_int_field(ChannelTable& channels, int32_t channel, int32_t value, bool row_end);
void write_single_field(ChannelTable& channels, int32_t channel, float value, bool row_end);
void write_double_field(ChannelTable& channels, int32_t channel, double value, bool row_end);

// The whole text a template gives for one value: literal text, the formatted
// numeric field ("#.###" and the like), and literal text after it.
std::string picture_text(std::string_view picture_template, float value);

// The picture template held between begin_picture and end_picture.
class PictureWriter {
public:
    void begin_picture(std::string_view picture_template);
    void picture_single(Screen& screen, float value, bool line_end, bool last);
    void end_picture(Screen& screen);

private:
    std::string template_;
    size_t next_ = 0;
    bool held_ = false;
};

// "hh:mm:ss" of the local time; empty when it cannot be had.
std::string time_of_day_text();
std::string time_of_day_text(const std::tm& local_time);
// "hh:mm:ss" of the local time seconds_ago seconds before now (rounded to the
// second, across midnight too); empty when it cannot be had.
std::string time_of_day_text_before(double seconds_ago);
// Tests replace the local-time source; an empty function restores the system's.
void use_local_time_source(std::function<bool(std::tm&)> source);

std::string int_to_text(int32_t value);
std::string repeat_char(int32_t count, std::string_view text);
int32_t text_length(std::string_view text);
std::string join_text(std::string_view first, std::string_view second);

// Runtime operations over the program's channels, screen and picture template.
void write_text_field(int32_t channel, std::string_view text, bool row_end);
void write_int_field(int32_t channel, int32_t value, bool row_end);
void write_single_field(int32_t channel, float value, bool row_end);
void write_double_field(int32_t channel, double value, bool row_end);
void begin_picture(std::string_view picture_template);
void picture_single(float value, bool line_end, bool last);
void end_picture();
