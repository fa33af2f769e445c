// Tests of the tokenizer and the field conversions, read through a field
// reader whose source is a given line.
#include "text/field_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "text_test_support.h"

namespace {

struct LineReader : ReaderRig {
    explicit LineReader(std::string line) { reader.use_line(std::move(line)); }
    bool exhausted() const { return reader.line_source().position() == reader.line_source().line().size(); }
};

int32_t int_of(const std::string& line) { return LineReader(line).reader.read_int_field(); }
double double_of(const std::string& line) { return LineReader(line).reader.read_double_field(); }

}  // namespace

TEST(FieldReader, module_reply_and_its_line_end_are_consumed_exactly)
{
    for (const std::string line_end : {"\r\n", "\n", "\r"}) {
        LineReader r("X,12,0,512,600,700,1812" + line_end + "Y,5");
        expect_module_reply(r.reader);
        EXPECT_EQ(r.reader.line_source().position(), 23 + line_end.size());
        EXPECT_EQ(r.reader.read_text_field(), "Y");
        EXPECT_EQ(r.reader.read_int_field(), 5);
        EXPECT_TRUE(r.exhausted());
    }
}

TEST(FieldReader, exhausted_source_gives_zero_and_empty_text_with_status_zero)
{
    LineReader r("");
    r.status.set(3);
    EXPECT_EQ(r.reader.read_int_field(), 0);
    EXPECT_EQ(r.status.code(), 0);
    r.status.set(3);
    EXPECT_EQ(r.reader.read_double_field(), 0.0);
    EXPECT_EQ(r.status.code(), 0);
    r.status.set(3);
    EXPECT_EQ(r.reader.read_text_field(), "");
    EXPECT_EQ(r.status.code(), 0);
}

// Quotes, blanks and line ends: the fields a line gives when read as integers (i) or text (t).
TEST(FieldReader, quotes_blanks_and_line_ends_decide_where_each_field_ends)
{
    struct FieldsCase {
        const char* line;
        const char* reads;
        std::vector<std::string> values;
    };
    const FieldsCase cases[] = {
        {"1\n\n2\r\n\r\n3", "iiiii", {"1", "0", "2", "0", "3"}},  // an empty line is a field of its own
        {"\"X\",5", "ti", {"X", "5"}},
        {"\" a,b \"  ,c", "tt", {" a,b ", "c"}},
        {"\"ab\"cd,e", "ttt", {"ab", "cd", "e"}},  // what follows the closing quote begins the next field
        {"AB\"C,D\"", "tt", {"AB\"C", "D\""}},     // a quote inside a field is an ordinary character
        {"\"12\"", "i", {"12"}},
        {"\"1,2\",7", "ii", {"1", "7"}},  // the quoted token is "1,2"
        {"\"  42\"", "i", {"42"}},
        {"1\"2\"", "i", {"1"}},
        {"1 2", "iii", {"1", "2", "0"}},  // a blank separates numbers but not text
        {"1 2", "t", {"1 2"}},
        {"1   ,2", "ii", {"1", "2"}},
        {"\t V,V ,v", "ttt", {"V", "V ", "v"}},  // leading blanks go, trailing blanks of text stay
        {" 3 ,4", "ii", {"3", "4"}},
    };
    for (const FieldsCase& c : cases) {
        LineReader r(c.line);
        std::vector<std::string> values;
        for (const char* kind = c.reads; *kind != '\0'; ++kind)
            values.push_back(*kind == 'i' ? std::to_string(r.reader.read_int_field()) : r.reader.read_text_field());
        EXPECT_EQ(values, c.values) << '"' << c.line << '"';
    }
}

TEST(FieldReader, tokens_are_cut_at_their_limit_and_the_rest_begins_the_next_field)
{
    LineSource source(std::string(67, '1') + "234");
    EXPECT_EQ(next_token(source, numeric_token_limit, false).text, std::string(67, '1'));
    EXPECT_EQ(next_token(source, numeric_token_limit, false).text, "234");
    EXPECT_EQ(source.position(), 70u);

    LineReader text(std::string(5000, 'a') + ",b");
    EXPECT_EQ(text.reader.read_text_field(), std::string(4096, 'a'));
    EXPECT_EQ(text.reader.read_text_field(), std::string(904, 'a'));
    EXPECT_EQ(text.reader.read_text_field(), "b");

    // The limit reached just before the comma: the comma still ends that field.
    LineReader at_comma(std::string(67, '7') + ",5");
    at_comma.reader.read_int_field();
    EXPECT_EQ(at_comma.reader.read_int_field(), 5);
}

TEST(FieldReader, point_and_exponents_mark_fractional_tokens_unless_after_a_radix_mark)
{
    struct TokenCase {
        const char* line;
        bool text_field;
        const char* token;
        bool fractional;
    };
    const std::vector<TokenCase> cases = {
        {"1.5", false, "1.5", true},    {"1e2", false, "1e2", true},    {"E", false, "E", true},
        {"1d3", false, "1e3", true},    {"2D1", false, "2E1", true},    {"1d3", true, "1d3", true},
        {"&HDE", false, "&HDE", false}, {"&H1E", false, "&H1E", false}, {"&.", false, "&.", false},
        {"-5", false, "-5", false},
    };
    for (const TokenCase& c : cases) {
        LineSource source(c.line);
        const Token token = next_token(source, c.text_field ? text_token_limit : numeric_token_limit, c.text_field);
        EXPECT_EQ(token.text, c.token) << c.line;
        EXPECT_EQ(token.looks_fractional, c.fractional) << c.line;
    }
}

struct IntCase {
    const char* line;
    int32_t value;
};

TEST(FieldReader, integer_fields_convert_as_tabled)
{
    const int32_t int_min = std::numeric_limits<int32_t>::min();
    const std::vector<IntCase> cases = {
        {"3", 3},
        {"", 0},
        {"1812", 1812},
        {"-5", -5},
        {"+7", 7},
        {"2.5", 2},
        {"3.5", 4},
        {"-2.5", -2},
        {"0.5", 0},
        {"9.6", 10},
        {"-9.6", -10},
        {"&HA", 10},
        {"&H0A", 10},
        {"&O17", 15},
        {"&17", 15},
        {"&18", 1},  // octal digits stop at 8
        {"&B101", 5},
        {"&HFFFFFFFF", -1},
        {"&H1FFFFFFFF", -1},  // wraps in 32 bits
        {"&H80000000", int_min},
        {"&", 0},
        {"&H", 0},
        {"1e3", 1000},
        {"1d3", 1000},
        {"4294967295", -1},
        {"99999999999", -1},
        {"2147483648", int_min},
        {"2147483647", 2147483647},
        {"-2147483648", int_min},
        {"-4294967295", 1},
        {"12abc", 12},
        {"abc", 0},
        {"2147483647.4", 2147483647},
        {"2147483647.5", int_min},
        {"-2147483648.5", int_min},   // halves to even: -2147483648 is in range
        {"-2147483649", 2147483647},  // the integer reading wraps modulo 2^32
        {"1e10", int_min},
        {"1e999", int_min},
        {"1e-999", 0},
        {"5.", 5},
        {".5", 0},
    };
    for (const IntCase& c : cases)
        EXPECT_EQ(int_of(c.line), c.value) << "\"" << c.line << "\"";
}

struct DoubleCase {
    const char* line;
    double value;
};

TEST(FieldReader, double_fields_convert_as_tabled)
{
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<DoubleCase> cases = {
        {"60", 60.0},
        {"60.0", 60.0},
        {"6e1", 60.0},
        {"1.5", 1.5},
        {"", 0.0},
        {"abc", 0.0},
        {"1e3", 1000.0},
        {"0.1", 0.1},
        {"-2.5e-3", -0.0025},
        {"1440", 1440.0},
        {"999999999", 999999999.0},
        {"4294967295", 4294967295.0},  // ten characters: read in 64 bits
        {"123456789012345678", 123456789012345678.0},
        {"12345678901234567890", 12345678901234567890.0},  // longer: read as a decimal
        {"&HFFFFFFFF", 4294967295.0},
        {"&HFFFFFFF", 268435455.0},
        {"&HFFFFFFFFFFFFFFFFFF", -1.0},  // long radix tokens wrap in 64 bits
        {"12abc", 12.0},
        {"1e400", infinity},
        {"-1e400", -infinity},
        {"1e-400", 0.0},
        {"0.000e999999999999999", 0.0},
        {"4.9e-324", 4.9e-324},
        {"1.7976931348623157e308", 1.7976931348623157e308},
        {"12.5x", 12.5},
        {"1e", 1.0},
    };
    for (const DoubleCase& c : cases)
        EXPECT_EQ(double_of(c.line), c.value) << "\"" << c.line << "\"";
}

TEST(FieldReader, decimal_conversion_gives_the_nearest_double)
{
    EXPECT_EQ(decimal_conversion("0.3"), 0.3);
    EXPECT_EQ(decimal_conversion("2.2250738585072011e-308"), 2.2250738585072011e-308);
    EXPECT_EQ(decimal_conversion("9007199254740993"), 9007199254740992.0);  // tie to even
    EXPECT_EQ(decimal_conversion("  -7.25"), -7.25);
    EXPECT_EQ(decimal_conversion("&H10"), 16.0);
    EXPECT_EQ(decimal_conversion("-"), 0.0);
    EXPECT_EQ(decimal_conversion("-.e5"), 0.0);
    EXPECT_TRUE(std::signbit(decimal_conversion("-0.0")));
}
