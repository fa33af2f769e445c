// Parsing of a serial channel's open string. Letter case never matters; numbers
// are plain decimal digits that must fit 32 bits, so junk or overflow is refused.
#include "io/serial_options.h"

#include <cstddef>

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool same_text(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

bool starts_with_text(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && same_text(text.substr(0, prefix.size()), prefix);
}

std::string_view trim_blanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Decimal digits only; empty text is 0. False for any other character or a
// value above 32 bits.
bool parse_u32(std::string_view text, uint32_t& value)
{
    uint64_t result = 0;
    for (char c : text) {
        if (!is_digit(c))
            return false;
        result = result * 10 + static_cast<uint64_t>(c - '0');
        if (result > UINT32_MAX)
            return false;
    }
    value = static_cast<uint32_t>(result);
    return true;
}

bool parse_parity(std::string_view field, SerialOptions& options)
{
    static constexpr struct {
        std::string_view letter;
        Parity parity;
    } letters[] = {
        {"N", Parity::none}, {"E", Parity::even}, {"O", Parity::odd}, {"S", Parity::space}, {"M", Parity::mark}};
    for (const auto& entry : letters) {
        if (same_text(field, entry.letter)) {
            options.parity = entry.parity;
            return true;
        }
    }
    if (same_text(field, "PE")) {
        options.parity = Parity::even;
        options.check_parity = true;
        return true;
    }
    return false;
}

// A decimal number equal to 1, 1.5 or 2 ("01", "1.50" and "2." count too).
// Compared as digit strings so that no rounding can let a near value through.
bool parse_stop_bits(std::string_view field, StopBits& stop_bits)
{
    const size_t point = field.find('.');
    std::string_view whole = field.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view{} : field.substr(point + 1);
    if (whole.empty() && fraction.empty())
        return false;
    for (char c : whole)
        if (!is_digit(c))
            return false;
    for (char c : fraction)
        if (!is_digit(c))
            return false;
    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    if (whole == "1" && fraction.empty())
        stop_bits = StopBits::one;
    else if (whole == "1" && fraction == "5")
        stop_bits = StopBits::one_and_half;
    else if (whole == "2" && fraction.empty())
        stop_bits = StopBits::two;
    else
        return false;
    return true;
}

// Options named by two letters and followed by a number ("CS0", "RB4096").
uint32_t* numbered_option(std::string_view field, SerialOptions& options)
{
    if (field.size() < 2)
        return nullptr;
    const std::string_view name = field.substr(0, 2);
    if (same_text(name, "CS"))
        return &options.cts_time_ms;
    if (same_text(name, "DS"))
        return &options.dsr_time_ms;
    if (same_text(name, "CD"))
        return &options.cd_time_ms;
    if (same_text(name, "OP"))
        return &options.open_time_ms;
    if (same_text(name, "TB"))
        return &options.transmit_buffer_bytes;
    if (same_text(name, "RB"))
        return &options.receive_buffer_bytes;
    if (same_text(name, "IR"))
        return &options.interrupt_number;
    return nullptr;
}

// Options that must match the whole field.
bool parse_flag_option(std::string_view field, SerialOptions& options)
{
    if (same_text(field, "RS"))
        options.suppress_rts = true;
    else if (same_text(field, "LF") || same_text(field, "ASC"))
        options.add_line_feed = true;
    else if (same_text(field, "BIN"))
        options.add_line_feed = false;
    else if (same_text(field, "PE"))
        options.check_parity = true;
    else if (same_text(field, "DT"))
        options.keep_dtr = true;
    else if (same_text(field, "FE"))
        options.discard_on_error = true;
    else if (same_text(field, "ME"))
        options.ignore_all_errors = true;
    else
        return false;
    return true;
}

bool parse_named_option(std::string_view field, SerialOptions& options)
{
    if (parse_flag_option(field, options))
        return true;
    uint32_t* target = numbered_option(field, options);
    return target != nullptr && parse_u32(field.substr(2), *target);
}

// One field at its position (1-based). Empty fields keep the default.
bool parse_field(size_t position, std::string_view field, SerialOptions& options, bool& stop_bits_given)
{
    if (field.empty())
        return true;
    switch (position) {
    case 1:
        return parse_u32(field, options.speed_bps);
    case 2:
        return parse_parity(field, options);
    case 3:
        return parse_u32(field, options.data_bits);
    case 4:
        stop_bits_given = true;
        return parse_stop_bits(field, options.stop_bits);
    default:
        return parse_named_option(field, options);
    }
}

}  // namespace

bool parse_device_prefix(std::string_view open_string, uint32_t& port_number, std::string_view& fields)
{
    if (starts_with_text(open_string, "SER:")) {
        port_number = 1;
        fields = open_string.substr(4);
        return true;
    }
    if (!starts_with_text(open_string, "COM"))
        return false;
    const std::string_view rest = open_string.substr(3);
    const size_t colon = rest.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    if (!parse_u32(rest.substr(0, colon), port_number))
        return false;
    fields = rest.substr(colon + 1);
    return true;
}

bool parse_serial_fields(std::string_view fields, SerialOptions& options, bool& stop_bits_given)
{
    stop_bits_given = false;
    size_t position = 1;
    while (true) {
        const size_t comma = fields.find(',');
        const std::string_view field = trim_blanks(fields.substr(0, comma));
        if (!parse_field(position, field, options, stop_bits_given))
            return false;
        if (comma == std::string_view::npos)
            return true;
        fields.remove_prefix(comma + 1);
        ++position;
    }
}

StopBits default_stop_bits(uint32_t speed_bps, uint32_t data_bits)
{
    if (speed_bps > 110)
        return StopBits::one;
    return data_bits == 5 ? StopBits::one_and_half : StopBits::two;
}

bool parse_open_string(std::string_view open_string, uint32_t& port_number, SerialOptions& options)
{
    std::string_view fields;
    if (!parse_device_prefix(open_string, port_number, fields))
        return false;
    options = SerialOptions{};
    bool stop_bits_given = false;
    if (!parse_serial_fields(fields, options, stop_bits_given))
        return false;
    if (!stop_bits_given)
        options.stop_bits = default_stop_bits(options.speed_bps, options.data_bits);
    return true;
}

std::string serial_device_name(uint32_t port_number) { return "COM" + std::to_string(port_number) + ":"; }
