// Data-file fields on a channel, the time of day and the text helpers.
#include <gtest/gtest.h>

#include <cmath>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "text/value_format.h"
#include "text_test_support.h"

namespace {

// Channel 1 open on a device that records every write.
struct DataFile {
    ErrorStatus status;
    ChannelTable channels{status};
    FakeLine line;

    DataFile() { channels.open_on_device(1, std::make_unique<FakeDevice>(line), mode_binary, access_default); }

    std::string bytes() const
    {
        std::string all;
        for (const auto& write : line.writes)
            all += write;
        return all;
    }
};

}  // namespace

TEST(DataFields, text_is_quoted_as_given_and_every_field_ends_in_its_separator)
{
    DataFile file;
    write_text_field(file.channels, 1, "Time", false);
    write_int_field(file.channels, 1, 512, false);
    write_single_field(file.channels, 1, 2.56f, true);
    EXPECT_EQ(file.bytes(), "\"Time\",512,2.56\r\n");
    // Quote, text, closing quote with separator; each number with its separator.
    EXPECT_EQ(file.line.writes, (std::vector<std::string>{"\"", "Time", "\",", "512,", "2.56\r\n"}));
    // Quotes inside the text are kept as they are; an empty text is two quotes.
    write_text_field(file.channels, 1, "say \"hi\"", false);
    write_text_field(file.channels, 1, "", true);
    EXPECT_EQ(file.bytes(), "\"Time\",512,2.56\r\n\"say \"hi\"\",\"\"\r\n");
}

TEST(DataFields, number_fields)
{
    DataFile file;
    write_int_field(file.channels, 1, -5, false);
    write_int_field(file.channels, 1, 0, false);
    write_int_field(file.channels, 1, INT32_MIN, false);
    write_double_field(file.channels, 1, 1.049999999999272, false);
    write_single_field(file.channels, 1, 12345678.0f, false);
    write_double_field(file.channels, 1, 86400.0, true);
    EXPECT_EQ(file.bytes(), "-5,0,-2147483648,1.049999999999272,1.234568e+007,86400\r\n");
    EXPECT_EQ(file.line.writes.size(), 6u);
}

TEST(DataFields, writes_to_a_closed_channel_write_nothing_and_report_not_allowed)
{
    DataFile file;
    write_int_field(file.channels, 2, 512, true);
    EXPECT_EQ(file.status.code(), status_not_allowed);
    file.status.set(status_ok);
    write_text_field(file.channels, 2, "Time", false);
    EXPECT_EQ(file.status.code(), status_not_allowed);
    EXPECT_TRUE(file.line.writes.empty());
}

TEST(TimeOfDay, two_digits_each_joined_by_colons_and_empty_when_out_of_range)
{
    const struct {
        int hour, minute, second;
        const char* text;
    } rows[] = {
        {9, 5, 3, "09:05:03"}, {23, 59, 59, "23:59:59"}, {23, 59, 60, "23:59:60"},  // a leap second
        {24, 0, 0, ""},        {-1, 0, 0, ""},           {0, 60, 0, ""},           {0, -1, 0, ""},
        {0, 0, 61, ""},        {0, 0, -1, ""},           {INT_MIN, 0, 0, ""},
    };
    for (const auto& row : rows) {
        std::tm local_time{};
        local_time.tm_hour = row.hour;
        local_time.tm_min = row.minute;
        local_time.tm_sec = row.second;
        EXPECT_EQ(time_of_day_text(local_time), row.text) << row.hour << ":" << row.minute << ":" << row.second;
    }
}

TEST(TimeOfDay, comes_from_the_installed_local_time_source)
{
    use_local_time_source([](std::tm& local_time) {
        local_time = std::tm{};
        local_time.tm_hour = 9;
        local_time.tm_min = 5;
        local_time.tm_sec = 3;
        return true;
    });
    EXPECT_EQ(time_of_day_text(), "09:05:03");
    // Earlier times round to the second and wrap at midnight; nonsense counts give a time all the same.
    const struct {
        double seconds_ago;
        const char* text;
    } earlier[] = {{0.4, "09:05:03"},  {3.6, "09:04:59"}, {32'704.0, "23:59:59"}, {86'400.0 * 3 + 1, "09:05:02"},
                   {-1.0, "09:05:04"}, {NAN, "09:05:03"}};
    for (const auto& row : earlier)
        EXPECT_EQ(time_of_day_text_before(row.seconds_ago), row.text) << row.seconds_ago;
    EXPECT_EQ(time_of_day_text_before(1e300).size(), 8u);
    use_local_time_source([](std::tm&) { return false; });
    EXPECT_EQ(time_of_day_text(), "");
    EXPECT_EQ(time_of_day_text_before(1.0), "");
    use_local_time_source({});
    EXPECT_EQ(time_of_day_text().size(), 8u);  // the system's own clock
}

TEST(TextHelpers, numbers_repeats_and_joins_make_zero_padded_file_names)
{
    const struct {
        int32_t number;
        const char* text;
    } rows[] = {{7, "007"}, {42, "042"}, {100, "100"}, {101, "101"}, {1, "001"}};
    for (const auto& row : rows) {
        const std::string digits = int_to_text(row.number);
        EXPECT_EQ(join_text(repeat_char(3 - text_length(digits), "0"), digits), row.text);
    }
    EXPECT_EQ(join_text(join_text("DATA", "007"), ".CSV"), "DATA007.CSV");
    EXPECT_EQ(text_length(std::string("a\0b", 3)), 3);
    EXPECT_EQ(int_to_text(INT32_MAX), "2147483647");  // negative ones: DataFields.number_fields
    // Repeats take the first character; a count below one gives nothing.
    EXPECT_EQ(repeat_char(3, "xyz"), "xxx");
    for (int32_t count : {0, -1, INT32_MIN})
        EXPECT_EQ(repeat_char(count, "0"), "") << count;
    EXPECT_EQ(repeat_char(5, ""), "");
}
