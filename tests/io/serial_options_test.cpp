// The open string of a serial channel: prefix, positional fields, named
// options, the stop-bit default and every refusal.
#include "io/serial_options.h"

#include <gtest/gtest.h>

namespace {

SerialOptions parsed(std::string_view open_string)
{
    uint32_t port = 0;
    SerialOptions options;
    EXPECT_TRUE(parse_open_string(open_string, port, options)) << open_string;
    return options;
}

TEST(OpenString, bare_port_gives_every_default)
{
    const SerialOptions o = parsed("COM1:");
    EXPECT_EQ(o.speed_bps, 300u);
    EXPECT_EQ(o.data_bits, 7u);
    EXPECT_EQ(o.parity, Parity::even);
    EXPECT_EQ(o.stop_bits, StopBits::one);
    EXPECT_EQ(o.cts_time_ms, 1000u);
    EXPECT_EQ(o.dsr_time_ms, 1000u);
    EXPECT_EQ(o.cd_time_ms, 0u);
    EXPECT_FALSE(o.suppress_rts);
    EXPECT_FALSE(o.check_parity);
    EXPECT_EQ(o.interrupt_number, 0u);
}

TEST(OpenString, logger_string_gives_its_line_settings)
{
    uint32_t port = 0;
    SerialOptions o;
    ASSERT_TRUE(parse_open_string("COM3:38400,n,8,1,cs0,cd0,ds0,rs", port, o));
    EXPECT_EQ(port, 3u);
    EXPECT_EQ(o.speed_bps, 38400u);
    EXPECT_EQ(o.parity, Parity::none);
    EXPECT_EQ(o.data_bits, 8u);
    EXPECT_EQ(o.stop_bits, StopBits::one);
    EXPECT_EQ(o.cts_time_ms, 0u);
    EXPECT_EQ(o.cd_time_ms, 0u);
    EXPECT_EQ(o.dsr_time_ms, 0u);
    EXPECT_TRUE(o.suppress_rts);
    EXPECT_FALSE(o.keep_dtr);
    EXPECT_FALSE(o.add_line_feed);
}

TEST(OpenString, prefix_gives_the_port_number_and_device_name)
{
    struct Case {
        const char* text;
        uint32_t port;
        const char* name;
    } cases[] = {
        {"COM10:", 10, "COM10:"}, {"ser:", 1, "COM1:"}, {"com255:9600", 255, "COM255:"}, {"COM007:", 7, "COM7:"}};
    for (const Case& c : cases) {
        uint32_t port = 0;
        SerialOptions o;
        ASSERT_TRUE(parse_open_string(c.text, port, o)) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
        EXPECT_EQ(serial_device_name(port), c.name);
    }
}

TEST(OpenString, stop_bits_in_any_equal_form_or_by_default_from_speed_and_data_bits)
{
    const struct {
        const char* text;
        StopBits stop_bits;
    } rows[] = {
        {"COM1:110,n,5", StopBits::one_and_half},
        {"COM1:110,n,8", StopBits::two},
        {"COM1:75,n,7,", StopBits::two},
        {"COM1:300,n,5", StopBits::one},
        {"COM1:111,n,5", StopBits::one},
        {"COM1:110,n,5,1", StopBits::one},  // given, not defaulted
        {"COM1:,,,1.5", StopBits::one_and_half},
        {"COM1:,,,1.50", StopBits::one_and_half},
        {"COM1:,,,02", StopBits::two},
        {"COM1:,,,2.0", StopBits::two},
    };
    for (const auto& row : rows)
        EXPECT_EQ(parsed(row.text).stop_bits, row.stop_bits) << row.text;
}

TEST(OpenString, letter_case_never_matters)
{
    const SerialOptions lower = parsed("com1:9600,n,8,1,cs0,ds5,rs,pe,lf");
    const SerialOptions upper = parsed("COM1:9600,N,8,1,CS0,DS5,RS,PE,LF");
    EXPECT_EQ(upper.parity, lower.parity);
    EXPECT_EQ(upper.cts_time_ms, 0u);
    EXPECT_EQ(lower.cts_time_ms, 0u);
    EXPECT_EQ(upper.dsr_time_ms, 5u);
    EXPECT_TRUE(upper.suppress_rts && upper.check_parity && upper.add_line_feed);
    EXPECT_TRUE(lower.suppress_rts && lower.check_parity && lower.add_line_feed);
}

TEST(OpenString, named_numbers_with_nothing_after_the_letters_are_zero)
{
    const SerialOptions o = parsed("COM1:,,,,CS,DS,CD,TB,RB");
    EXPECT_EQ(o.cts_time_ms, 0u);
    EXPECT_EQ(o.dsr_time_ms, 0u);
    EXPECT_EQ(o.transmit_buffer_bytes, 0u);
}

TEST(OpenString, empty_fields_keep_defaults_and_their_positions)
{
    const SerialOptions o = parsed("COM1:,,8");
    EXPECT_EQ(o.speed_bps, 300u);
    EXPECT_EQ(o.parity, Parity::even);
    EXPECT_EQ(o.data_bits, 8u);
    EXPECT_EQ(parsed("COM1:9600,,,2").stop_bits, StopBits::two);
    EXPECT_EQ(parsed("COM1:9600,n,8,1,").speed_bps, 9600u);  // trailing comma
    EXPECT_EQ(parsed("COM1:9600,n,8,1,,rs").suppress_rts, true);
}

TEST(OpenString, blanks_and_tabs_around_fields_are_ignored)
{
    const SerialOptions o = parsed("COM1: 9600 ,\tO\t, 6 , 2 , rs ");
    EXPECT_EQ(o.speed_bps, 9600u);
    EXPECT_EQ(o.parity, Parity::odd);
    EXPECT_EQ(o.data_bits, 6u);
    EXPECT_EQ(o.stop_bits, StopBits::two);
    EXPECT_TRUE(o.suppress_rts);
}

TEST(OpenString, options_repeat_and_the_last_one_wins)
{
    const SerialOptions o = parsed("COM1:,,,,cs5,cs7,lf,bin,op9,fe,me,dt,ir0");
    EXPECT_EQ(o.cts_time_ms, 7u);
    EXPECT_FALSE(o.add_line_feed);
    EXPECT_EQ(o.open_time_ms, 9u);
    EXPECT_TRUE(o.discard_on_error && o.ignore_all_errors && o.keep_dtr);
}

TEST(OpenString, parity_letters)
{
    EXPECT_EQ(parsed("COM1:,s").parity, Parity::space);
    EXPECT_EQ(parsed("COM1:,M").parity, Parity::mark);
    const SerialOptions pe = parsed("COM1:,pe");
    EXPECT_EQ(pe.parity, Parity::even);
    EXPECT_TRUE(pe.check_parity);
}

TEST(OpenString, the_largest_32_bit_number_is_kept) { EXPECT_EQ(parsed("COM1:4294967295").speed_bps, 4294967295u); }

TEST(OpenString, refused_strings)
{
    for (const char* text : {
             "",
             "COM",
             "COM:",
             "COM1",
             "COMX1:",
             "COM 1:",
             "SER1:",
             "LPT1:",
             " COM1:",
             "COM4294967296:",
             "COM1:9600x",
             "COM1:-9600",
             "COM1:+9600",
             "COM1:4294967296",
             "COM1:9600,X",
             "COM1:9600,NN",
             "COM1:9600,n,8x",
             "COM1:9600,n,8,3",
             "COM1:9600,n,8,0",
             "COM1:9600,n,8,1.4",
             "COM1:9600,n,8,1e0",
             "COM1:9600,n,8,.",
             "COM1:,,,,zz",
             "COM1:,,,,R",
             "COM1:,,,,CS10a",
             "COM1:,,,,ds99999999999",
             "COM1:,,,,rsx",
             "COM1:,,,,CS 10",
             "COM1:,,,,n",
         }) {
        uint32_t port = 0;
        SerialOptions o;
        EXPECT_FALSE(parse_open_string(text, port, o)) << '"' << text << '"';
    }
}

}  // namespace
