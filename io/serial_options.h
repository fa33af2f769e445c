// The open string of a serial channel ("COM3:38400,n,8,1,cs0,cd0,ds0,rs") and the
// line settings and options it gives. Plain parsing, no platform calls.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

enum class Parity : uint32_t { none = 0, even = 1, odd = 2, space = 3, mark = 4 };
enum class StopBits : uint32_t { one = 0, one_and_half = 1, two = 2 };

struct SerialOptions {
    uint32_t speed_bps = 300;
    uint32_t data_bits = 7;
    Parity parity = Parity::even;
    StopBits stop_bits = StopBits::one;
    uint32_t cts_time_ms = 1000;
    uint32_t dsr_time_ms = 1000;
    uint32_t cd_time_ms = 0;
    uint32_t open_time_ms = 0;  // kept, no effect
    bool suppress_rts = false;
    bool add_line_feed = false;
    bool check_parity = false;
    bool keep_dtr = false;
    bool discard_on_error = false;   // kept, no effect
    bool ignore_all_errors = false;  // kept, no effect
    uint32_t interrupt_number = 0;   // anything but 0 makes the open fail
    uint32_t transmit_buffer_bytes = 0;
    uint32_t receive_buffer_bytes = 0;
};

// Reads the device prefix: "COM<digits>:" or "SER:" (port 1), any letter case.
// On success sets port_number and fields (the text after the colon).
bool parse_device_prefix(std::string_view open_string, uint32_t& port_number, std::string_view& fields);

// Parses the comma-separated fields after the colon into options, which the
// caller has set to its defaults. False for an unknown option, a bad parity
// letter, a stop-bit value other than 1, 1.5 or 2, or a number with anything
// but digits in it (or too large for 32 bits). stop_bits_given tells whether
// field 4 set the stop bits.
bool parse_serial_fields(std::string_view fields, SerialOptions& options, bool& stop_bits_given);

// Stop bits when field 4 gave none: one above 110 bit/s; at 110 and below one
// and a half with 5 data bits and two otherwise.
StopBits default_stop_bits(uint32_t speed_bps, uint32_t data_bits);

// The whole open string: prefix, fields, stop-bit default. The interrupt
// number is left for the caller to judge.
bool parse_open_string(std::string_view open_string, uint32_t& port_number, SerialOptions& options);

// "COM<n>:", the name the device record keeps.
std::string serial_device_name(uint32_t port_number);
