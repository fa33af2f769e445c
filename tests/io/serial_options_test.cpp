// The open string of a serial channel: prefix, positional fields, named
// options, the stop-bit default and every refusal.
#include "io/serial_options.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// Every option in one line ("speed,parity,data,stop", then the named numbers
// that are not 0 and the switches that are on), so a row checks all of them.
std::string described(const SerialOptions& o)
{
    const char* stop_bits[] = {"1", "1.5", "2"};
    std::string text = std::to_string(o.speed_bps) + "," + "neosm"[static_cast<int>(o.parity)] + "," +
                       std::to_string(o.data_bits) + "," + stop_bits[static_cast<int>(o.stop_bits)];
    for (const auto& [name, value] : {std::pair{" cs", o.cts_time_ms},
                                      {" ds", o.dsr_time_ms},
                                      {" cd", o.cd_time_ms},
                                      {" op", o.open_time_ms},
                                      {" ir", o.interrupt_number},
                                      {" tb", o.transmit_buffer_bytes},
                                      {" rb", o.receive_buffer_bytes}})
        if (value != 0)
            text += name + std::to_string(value);
    for (const auto& [name, on] : {std::pair{" rs", o.suppress_rts},
                                   {" lf", o.add_line_feed},
                                   {" pe", o.check_parity},
                                   {" dt", o.keep_dtr},
                                   {" fe", o.discard_on_error},
                                   {" me", o.ignore_all_errors}})
        if (on)
            text += name;
    return text;
}

TEST(OpenString, open_strings_give_their_port_and_every_option)
{
    const struct {
        const char* text;
        uint32_t port;
        const char* options;
    } rows[] = {
        {"COM1:", 1, "300,e,7,1 cs1000 ds1000"},
        {"COM3:38400,n,8,1,cs0,cd0,ds0,rs", 3, "38400,n,8,1 rs"},
        {"COM10:", 10, "300,e,7,1 cs1000 ds1000"},
        {"ser:", 1, "300,e,7,1 cs1000 ds1000"},
        {"com255:9600", 255, "9600,e,7,1 cs1000 ds1000"},
        {"COM007:", 7, "300,e,7,1 cs1000 ds1000"},
        // Stop bits in any equal form, or by default from the speed and data bits.
        {"COM1:110,n,5", 1, "110,n,5,1.5 cs1000 ds1000"},
        {"COM1:110,n,8", 1, "110,n,8,2 cs1000 ds1000"},
        {"COM1:75,n,7,", 1, "75,n,7,2 cs1000 ds1000"},
        {"COM1:300,n,5", 1, "300,n,5,1 cs1000 ds1000"},
        {"COM1:111,n,5", 1, "111,n,5,1 cs1000 ds1000"},
        {"COM1:110,n,5,1", 1, "110,n,5,1 cs1000 ds1000"},
        {"COM1:,,,1.5", 1, "300,e,7,1.5 cs1000 ds1000"},
        {"COM1:,,,1.50", 1, "300,e,7,1.5 cs1000 ds1000"},
        {"COM1:,,,02", 1, "300,e,7,2 cs1000 ds1000"},
        {"COM1:,,,2.0", 1, "300,e,7,2 cs1000 ds1000"},
        // Letter case never matters.
        {"com1:9600,n,8,1,cs0,ds5,rs,pe,lf", 1, "9600,n,8,1 ds5 rs lf pe"},
        {"COM1:9600,N,8,1,CS0,DS5,RS,PE,LF", 1, "9600,n,8,1 ds5 rs lf pe"},
        // Named numbers with nothing after the letters are zero.
        {"COM1:,,,,CS,DS,CD,TB,RB", 1, "300,e,7,1"},
        {"COM1:,,,,tb512,rb4096", 1, "300,e,7,1 cs1000 ds1000 tb512 rb4096"},
        // Empty fields keep their defaults and their positions.
        {"COM1:,,8", 1, "300,e,8,1 cs1000 ds1000"},
        {"COM1:9600,,,2", 1, "9600,e,7,2 cs1000 ds1000"},
        {"COM1:9600,n,8,1,", 1, "9600,n,8,1 cs1000 ds1000"},
        {"COM1:9600,n,8,1,,rs", 1, "9600,n,8,1 cs1000 ds1000 rs"},
        {"COM1: 9600 ,\tO\t, 6 , 2 , rs ", 1, "9600,o,6,2 cs1000 ds1000 rs"},
        // Options repeat and the last one wins.
        {"COM1:,,,,cs5,cs7,lf,bin,op9,fe,me,dt,ir0", 1, "300,e,7,1 cs7 ds1000 op9 dt fe me"},
        {"COM1:,s", 1, "300,s,7,1 cs1000 ds1000"},
        {"COM1:,M", 1, "300,m,7,1 cs1000 ds1000"},
        {"COM1:,pe", 1, "300,e,7,1 cs1000 ds1000 pe"},
        {"COM1:4294967295", 1, "4294967295,e,7,1 cs1000 ds1000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint32_t port = 0;
        SerialOptions options;
        ASSERT_TRUE(parse_open_string(row.text, port, options));
        EXPECT_EQ(port, row.port);
        EXPECT_EQ(serial_device_name(port), "COM" + std::to_string(row.port) + ":");
        EXPECT_EQ(described(options), row.options);
    }
}

TEST(OpenString, refused_strings)
{
    for (const char* text : {"",
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
                             "COM1:,,,,n"}) {
        uint32_t port = 0;
        SerialOptions o;
        EXPECT_FALSE(parse_open_string(text, port, o)) << '"' << text << '"';
    }
}

}  // namespace
