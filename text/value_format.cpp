// Data-file fields written to a channel, the time of day as text, and the small
// text helpers the file names are built with.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "io/channels.h"
#include "text/value_format.h"

namespace {

std::string_view field_end(bool row_end) { return row_end ? std::string_view("\r\n") : std::string_view(","); }

// A number field and its separator go out as one write.
void write_number_field(ChannelTable& channels, int32_t channel, std::string text, bool row_end)
{
    text += field_end(row_end);
    channels.put_data(channel, text);
}

bool system_local_time(std::tm& local_time)
{
    const std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1))
        return false;
    // Only the program's own thread asks for the time, so the shared result is safe.
    const std::tm* converted = std::localtime(&now);
    if (converted == nullptr)
        return false;
    local_time = *converted;
    return true;
}

std::function<bool(std::tm&)>& local_time_source()
{
    static std::function<bool(std::tm&)> source;
    return source;
}

void append_two_digits(std::string& text, int value)
{
    text += static_cast<char>('0' + value / 10);
    text += static_cast<char>('0' + value % 10);
}

}  // namespace

void write_text_field(ChannelTable& channels, int32_t channel, std::string_view text, bool row_end)
{
    // Quote, the text as it is (quotes inside are not doubled), closing quote
    // with the separator: three writes.
    channels.put_data(channel, "\"");
    channels.put_data(channel, text);
    channels.put_data(channel, row_end ? std::string_view("\"\r\n") : std::string_view("\","));
}

void write_int_field(ChannelTable& channels, int32_t channel, int32_t value, bool row_end)
{
    write_number_field(channels, channel, int_to_text(value), row_end);
}

void write_single_field(ChannelTable& channels, int32_t channel, float value, bool row_end)
{
    write_number_field(channels, channel, single_field_text(value), row_end);
}

void write_double_field(ChannelTable& channels, int32_t channel, double value, bool row_end)
{
    write_number_field(channels, channel, double_field_text(value), row_end);
}

std::string time_of_day_text()
{
    std::tm local_time{};
    const auto& source = local_time_source();
    const bool obtained = source ? source(local_time) : system_local_time(local_time);
    return obtained ? time_of_day_text(local_time) : std::string();
}

std::string time_of_day_text_before(double seconds_ago)
{
    constexpr int64_t day_s = 86'400;
    std::tm local_time{};
    const auto& source = local_time_source();
    if (!(source ? source(local_time) : system_local_time(local_time)) || time_of_day_text(local_time).empty())
        return {};
    // Whole days drop out of a time of day, so a huge or broken count cannot overflow.
    const double ago_s =
        std::isfinite(seconds_ago) ? std::fmod(std::round(seconds_ago), static_cast<double>(day_s)) : 0.0;
    const int64_t now_s = local_time.tm_hour * 3600 + local_time.tm_min * 60 + std::min(local_time.tm_sec, 59);
    const int64_t then_s = ((now_s - static_cast<int64_t>(ago_s)) % day_s + day_s) % day_s;
    std::tm then{};
    then.tm_hour = static_cast<int>(then_s / 3600);
    then.tm_min = static_cast<int>(then_s / 60 % 60);
    then.tm_sec = static_cast<int>(then_s % 60);
    return time_of_day_text(then);
}

std::string time_of_day_text(const std::tm& local_time)
{
    // Second 60 is a leap second, which local time may report.
    if (local_time.tm_hour < 0 || local_time.tm_hour > 23 || local_time.tm_min < 0 || local_time.tm_min > 59 ||
        local_time.tm_sec < 0 || local_time.tm_sec > 60) {
        return {};
    }
    std::string text;
    append_two_digits(text, local_time.tm_hour);
    text += ':';
    append_two_digits(text, local_time.tm_min);
    text += ':';
    append_two_digits(text, local_time.tm_sec);
    return text;
}

void use_local_time_source(std::function<bool(std::tm&)> source) { local_time_source() = std::move(source); }

std::string int_to_text(int32_t value)
{
    char buffer[12];  // "-2147483648"
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string repeat_char(int32_t count, std::string_view text)
{
    if (count <= 0 || text.empty())
        return {};
    return std::string(static_cast<size_t>(count), text[0]);
}

int32_t text_length(std::string_view text)
{
    constexpr size_t largest = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(text.size() < largest ? text.size() : largest);
}

std::string join_text(std::string_view first, std::string_view second)
{
    std::string joined;
    joined.reserve(first.size() + second.size());
    joined.append(first);
    joined.append(second);
    return joined;
}

void write_text_field(int32_t channel, std::string_view text, bool row_end)
{
    write_text_field(the_channels(), channel, text, row_end);
}

void write_int_field(int32_t channel, int32_t value, bool row_end)
{
    write_int_field(the_channels(), channel, value, row_end);
}

void write_single_field(int32_t channel, float value, bool row_end)
{
    write_single_field(the_channels(), channel, value, row_end);
}

void write_double_field(int32_t channel, double value, bool row_end)
{
    write_double_field(the_channels(), channel, value, row_end);
}
