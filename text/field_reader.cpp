// The field reader: the typed-line source, the tokenizer that cuts one
// comma-separated field from any source, and the integer, double and text conversions.
#include "text/field_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "core/clock.h"
#include "io/channels.h"
#include "screen/graphics.h"
#include "screen/screen.h"
#include "text/line_editor.h"

// ---------------------------------------------------------------------------
// The typed line as a character source.

int32_t LineSource::get_char()
{
    if (position_ >= line_.size())
        return end_of_source;
    return static_cast<uint8_t>(line_[position_++]);
}

void LineSource::unget_char(int32_t /*c*/)
{
    if (position_ > 0)
        --position_;
}

// ---------------------------------------------------------------------------
// The tokenizer.

namespace {

bool is_blank(int32_t c) { return c == ' ' || c == '\t'; }

// A carriage return ends a field together with a line feed right after it;
// any other byte after it is given back.
void consume_line_feed_after_return(CharSource& source)
{
    const int32_t next = source.get_char();
    if (next != '\n' && next != end_of_source)
        source.unget_char(next);
}

// After the character c that stopped a token: trailing blanks go, then a
// separator is consumed and anything else is left to begin the next field.
void finish_field(CharSource& source, int32_t c)
{
    while (is_blank(c))
        c = source.get_char();
    if (c == ',' || c == '\n' || c == end_of_source)
        return;
    if (c == '\r') {
        consume_line_feed_after_return(source);
        return;
    }
    source.unget_char(c);
}

}  // namespace

Token next_token(CharSource& source, size_t limit, bool text_field)
{
    Token token;
    int32_t c = source.get_char();
    while (is_blank(c))
        c = source.get_char();
    if (c == end_of_source)
        return token;

    bool in_quotes = false;
    bool radix_mark_seen = false;
    for (;;) {
        switch (c) {
        case ' ':
        case '\t':
            if (!in_quotes && !text_field) {
                finish_field(source, c);
                return token;
            }
            token.text += static_cast<char>(c);
            break;
        case '\n':
            return token;
        case '\r':
            consume_line_feed_after_return(source);
            return token;
        case '"':
            if (!in_quotes) {
                if (token.text.empty())
                    in_quotes = true;
                else
                    token.text += '"';
            } else if (text_field) {
                // The closing quote ends a text token.
                finish_field(source, source.get_char());
                return token;
            } else {
                in_quotes = false;
            }
            break;
        case ',':
            if (!in_quotes)
                return token;
            token.text += ',';
            break;
        case '&':
            token.text += '&';
            radix_mark_seen = true;
            break;
        case '.':
        case 'E':
        case 'e':
            token.text += static_cast<char>(c);
            if (!radix_mark_seen)
                token.looks_fractional = true;
            break;
        case 'D':
        case 'd':
            if (!radix_mark_seen) {
                token.looks_fractional = true;
                // A "D" exponent is the double-precision spelling of "E".
                token.text += text_field ? static_cast<char>(c) : (c == 'D' ? 'E' : 'e');
            } else {
                token.text += static_cast<char>(c);
            }
            break;
        default:
            token.text += static_cast<char>(c);
            break;
        }
        c = source.get_char();
        if (c == end_of_source || token.text.size() >= limit) {
            finish_field(source, c);
            return token;
        }
    }
}

// ---------------------------------------------------------------------------
// Conversions.

namespace {

int32_t as_signed_32(uint32_t bits)
{
    // Two's complement reading without relying on an implementation-defined cast.
    if (bits <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return static_cast<int32_t>(bits);
    return static_cast<int32_t>(bits - 2147483648u) - 2147483647 - 1;
}

int64_t as_signed_64(uint64_t bits)
{
    if (bits <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return static_cast<int64_t>(bits);
    return static_cast<int64_t>(bits - 9223372036854775808ull) - 9223372036854775807ll - 1;
}

std::string_view skip_blanks(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    return text.substr(i);
}

// White space as the C library's number readers skip it.
std::string_view skip_white_space(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    return text.substr(i);
}

bool is_radix_token(std::string_view text) { return text.size() >= 2 && text[0] == '&'; }

// The value of one digit in the given radix, or -1.
int digit_value(char c, unsigned radix)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value >= 0 && static_cast<unsigned>(value) < radix ? value : -1;
}

// "&H..", "&O..", "&B.." or "&..." (octal): digits up to the first non-digit,
// accumulated with wrap-around in 64 bits (callers keep the low 32 when they need them).
uint64_t radix_value(std::string_view text)
{
    unsigned radix = 8;
    size_t first_digit = 1;
    switch (text[1]) {
    case 'H':
    case 'h':
        radix = 16;
        first_digit = 2;
        break;
    case 'O':
    case 'o':
        first_digit = 2;
        break;
    case 'B':
    case 'b':
        radix = 2;
        first_digit = 2;
        break;
    default:
        break;
    }
    uint64_t value = 0;
    for (size_t i = first_digit; i < text.size(); ++i) {
        const int digit = digit_value(text[i], radix);
        if (digit < 0)
            break;
        value = value * radix + static_cast<unsigned>(digit);
    }
    return value;
}

struct SignedDigits {
    bool negative = false;
    std::string_view digits;  // the decimal digits up to the first other character
};

SignedDigits split_sign_and_digits(std::string_view text)
{
    SignedDigits result;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        result.negative = text[i] == '-';
        ++i;
    }
    size_t end = i;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    result.digits = text.substr(i, end - i);
    return result;
}

// Decimal digits as an unsigned 32-bit number: a value above 4294967295 gives
// 4294967295 whatever the sign, otherwise "-" negates modulo 2^32.
uint32_t unsigned_decimal_32(std::string_view text)
{
    const SignedDigits parts = split_sign_and_digits(skip_white_space(text));
    uint64_t value = 0;
    for (char digit : parts.digits) {
        value = value * 10 + static_cast<unsigned>(digit - '0');
        if (value > 0xFFFFFFFFull)
            return 0xFFFFFFFFu;
    }
    const auto bits = static_cast<uint32_t>(value);
    return parts.negative ? 0u - bits : bits;
}

// Decimal digits as a signed 64-bit number, wrapping in unsigned arithmetic.
int64_t signed_decimal_64(std::string_view text)
{
    const SignedDigits parts = split_sign_and_digits(skip_white_space(text));
    uint64_t value = 0;
    for (char digit : parts.digits)
        value = value * 10 + static_cast<unsigned>(digit - '0');
    return as_signed_64(parts.negative ? 0u - value : value);
}

int64_t signed_64_conversion(std::string_view token)
{
    const std::string_view text = skip_blanks(token);
    if (is_radix_token(text))
        return as_signed_64(radix_value(text));
    return signed_decimal_64(text);
}

// The longest prefix of the form [sign] digits [. digits] [(e|E) [sign] digits].
struct DecimalPrefix {
    bool negative = false;
    std::string_view mantissa;  // digits with at most one point, at least one digit
    std::string_view exponent;  // signed exponent text, empty when there is none
};

std::optional<DecimalPrefix> find_decimal_prefix(std::string_view text)
{
    DecimalPrefix prefix;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        prefix.negative = text[i] == '-';
        ++i;
    }
    const size_t mantissa_start = i;
    size_t digit_count = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
        ++digit_count;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
            ++digit_count;
        }
    }
    if (digit_count == 0)
        return std::nullopt;
    prefix.mantissa = text.substr(mantissa_start, i - mantissa_start);
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        const size_t exponent_digits_start = j;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9')
            ++j;
        if (j > exponent_digits_start)
            prefix.exponent = text.substr(i + 1, j - i - 1);
    }
    return prefix;
}

// The power of ten of the leading significant digit, saturated far beyond the
// range of a double; used only to tell overflow from underflow.
int64_t decimal_magnitude(const DecimalPrefix& prefix)
{
    const std::string_view m = prefix.mantissa;
    const size_t point = m.find('.');
    const size_t integer_digits = point == std::string_view::npos ? m.size() : point;
    int64_t magnitude = 0;
    bool found = false;
    for (size_t i = 0; i < m.size() && !found; ++i) {
        if (m[i] == '.' || m[i] == '0')
            continue;
        found = true;
        magnitude = i < integer_digits ? static_cast<int64_t>(integer_digits - i - 1)
                                       : -static_cast<int64_t>(i - integer_digits);
    }
    if (!found)
        return std::numeric_limits<int32_t>::min();  // zero stays zero
    const SignedDigits exponent = split_sign_and_digits(prefix.exponent);
    int64_t exponent_value = 0;
    for (char digit : exponent.digits)
        exponent_value = std::min<int64_t>(exponent_value * 10 + (digit - '0'), 1'000'000'000);
    return magnitude + (exponent.negative ? -exponent_value : exponent_value);
}

double nearest_double(const DecimalPrefix& prefix)
{
    // The mantissa and exponent are contiguous in the token; from_chars takes no "+".
    const char* first = prefix.mantissa.data();
    const char* last =
        prefix.exponent.empty() ? first + prefix.mantissa.size() : prefix.exponent.data() + prefix.exponent.size();
    double value = 0.0;
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range)
        value = decimal_magnitude(prefix) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    else if (result.ec != std::errc())
        value = 0.0;
    return prefix.negative ? -value : value;
}

// Round to the nearest integer, halves to the even neighbour, without
// depending on the floating-point rounding mode.
double round_half_even(double value)
{
    if (!(std::fabs(value) < 4503599627370496.0))  // 2^52: already an integer (or not a number)
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;  // exact for these magnitudes
    if (fraction > 0.5)
        return below + 1.0;
    if (fraction < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

}  // namespace

int32_t integer_conversion(std::string_view token)
{
    const std::string_view text = skip_blanks(token);
    if (text.empty())
        return 0;
    if (is_radix_token(text))
        return as_signed_32(static_cast<uint32_t>(radix_value(text) & 0xFFFFFFFFu));
    return as_signed_32(unsigned_decimal_32(text));
}

double decimal_conversion(std::string_view token)
{
    const std::string_view text = skip_blanks(token);
    if (text.empty())
        return 0.0;
    if (is_radix_token(text))
        return static_cast<double>(as_signed_64(radix_value(text)));
    const std::optional<DecimalPrefix> prefix = find_decimal_prefix(text);
    return prefix ? nearest_double(*prefix) : 0.0;
}

int32_t int_field_value(const Token& token)
{
    if (!token.looks_fractional)
        return integer_conversion(token.text);
    const double rounded = round_half_even(decimal_conversion(token.text));
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(rounded);
}

double double_field_value(const Token& token)
{
    if (token.looks_fractional)
        return decimal_conversion(token.text);
    const size_t length = token.text.size();
    if (length <= 9)
        return integer_conversion(token.text);
    if (length <= 18 || token.text[0] == '&')
        return static_cast<double>(signed_64_conversion(token.text));
    return decimal_conversion(token.text);
}

// ---------------------------------------------------------------------------
// The field reader.

FieldReader::FieldReader(ErrorStatus& status, Screen& screen, ChannelTable& channels, Clock& clock)
    : status_(status), screen_(screen), channels_(channels), clock_(clock), channel_source_(channels, 0, &status)
{
}

CharSource& FieldReader::source()
{
    if (channel_is_source_)
        return channel_source_;
    return line_source_;
}

void FieldReader::enter_line(std::string_view prompt, bool add_question, bool add_line_end)
{
    channel_is_source_ = false;
    line_source_ = LineSource();
    screen_.finish_pending_line_end();
    if (!prompt.empty())
        screen_.write_text(prompt, false);
    if (add_question)
        screen_.write_text("? ", false);
    std::string line = edit_line(screen_, clock_);
    if (add_line_end)
        screen_.write_text({}, true);
    line_source_ = LineSource(std::move(line));
}

void FieldReader::begin_channel_fields(int32_t channel)
{
    if (!channels_.is_open(channel)) {
        status_.set(status_not_allowed);
        return;
    }
    channel_is_source_ = true;
    channel_source_ = ChannelSource(channels_, channel, &status_);
    line_source_ = LineSource();
    status_.set(status_ok);
}

void FieldReader::use_line(std::string line)
{
    channel_is_source_ = false;
    line_source_ = LineSource(std::move(line));
}

int32_t FieldReader::read_int_field()
{
    const Token token = next_token(source(), numeric_token_limit, false);
    status_.set(status_ok);
    return int_field_value(token);
}

double FieldReader::read_double_field()
{
    const Token token = next_token(source(), numeric_token_limit, false);
    status_.set(status_ok);
    return double_field_value(token);
}

std::string FieldReader::read_text_field()
{
    Token token = next_token(source(), text_token_limit, true);
    status_.set(status_ok);
    return std::move(token.text);
}

// ---------------------------------------------------------------------------
// The program's one reader and the runtime operations over it.

namespace {

std::optional<FieldReader> program_reader;
FieldReader* installed_reader = nullptr;

}  // namespace

FieldReader& the_field_reader()
{
    if (installed_reader)
        return *installed_reader;
    // Built on the program's current status, screen, channels and clock; a
    // test that installs others of those gets a reader on them.
    ErrorStatus& status = error_status();
    Screen& screen = the_screen();
    ChannelTable& channels = the_channels();
    Clock& clock = program_clock();
    if (!program_reader || !program_reader->is_built_on(status, screen, channels, clock))
        program_reader.emplace(status, screen, channels, clock);
    return *program_reader;
}

void use_field_reader(FieldReader* reader) { installed_reader = reader; }

void enter_line(std::string_view prompt, bool add_question, bool add_line_end)
{
    the_field_reader().enter_line(prompt, add_question, add_line_end);
}

void begin_channel_fields(int32_t channel) { the_field_reader().begin_channel_fields(channel); }

int32_t read_int_field() { return the_field_reader().read_int_field(); }

double read_double_field() { return the_field_reader().read_double_field(); }

std::string read_text_field() { return the_field_reader().read_text_field(); }
