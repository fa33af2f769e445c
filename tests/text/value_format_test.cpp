// Data-file fields on a channel, the time of day and the text helpers.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "io/channels.h"
#include "text/value_format.h"

namespace {

// Records every write the channel hands down, one entry per write.
class RecordingDevice final : public ChannelDevice {
public:
    explicit RecordingDevice(std::vector<std::string>& writes) : writes_(writes) {}
    bool at_end() override { return true; }
    int32_t close() override { return status_ok; }
    int64_t tell() override { return 0; }
    int32_t read(uint8_t*, size_t, size_t& bytes_read) override
    {
        bytes_read = 0;
        return status_ok;
    }
    int32_t write(const uint8_t* bytes, size_t count) override
    {
        writes_.emplace_back(reinterpret_cast<const char*>(bytes), count);
        return status_ok;
    }

private:
    std::vector<std::string>& writes_;
};

struct DataFile {
    ErrorStatus status;
    ChannelTable channels{status};
    std::vector<std::string> writes;

    DataFile() { channels.open_on_device(1, std::make_unique<RecordingDevice>(writes), mode_binary, access_default); }

    std::string bytes() const
    {
        std::string all;
        for (const auto& write : writes) all += write;
        return all;
    }
};

}  // namespace

TEST(DataFields, a_row_of_text_int_and_single_fields)
{
    DataFile file;
    write_text_field(file.channels, 1, "Time", false);
    write_int_field(file.channels, 1, 512, false);
    write_single_field(file.channels, 1, 2.56f, true);
    EXPECT_EQ(file.bytes(), "\"Time\",512,2.56\r\n");
    // Quote, text, closing quote with separator; each number with its separator.
    EXPECT_EQ(file.writes, (std::vector<std::string>{"\"", "Time", "\",", "512,", "2.56\r\n"}));
}

TEST(DataFields, text_field_keeps_quotes_and_may_be_empty)
{
    DataFile file;
    write_text_field(file.channels, 1, "say \"hi\"", false);
    write_text_field(file.channels, 1, "", true);
    EXPECT_EQ(file.bytes(), "\"say \"hi\"\",\"\"\r\n");
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
    EXPECT_EQ(file.writes.size(), 6u);
}

TEST(DataFields, writes_to_a_closed_channel_write_nothing_and_report_not_allowed)
{
    DataFile file;
    write_int_field(file.channels, 2, 512, true);
    EXPECT_EQ(file.status.code(), status_not_allowed);
    file.status.set(status_ok);
    write_text_field(file.channels, 2, "Time", false);
    EXPECT_EQ(file.status.code(), status_not_allowed);
    EXPECT_TRUE(file.writes.empty());
}

TEST(TimeOfDay, two_digits_each_joined_by_colons)
{
    std::tm local_time{};
    local_time.tm_hour = 9;
    local_time.tm_min = 5;
    local_time.tm_sec = 3;
    EXPECT_EQ(time_of_day_text(local_time), "09:05:03");
    local_time.tm_hour = 23;
    local_time.tm_min = 59;
    local_time.tm_sec = 59;
    EXPECT_EQ(time_of_day_text(local_time), "23:59:59");
    local_time.tm_sec = 60;  // a leap second
    EXPECT_EQ(time_of_day_text(local_time), "23:59:60");
}

TEST(TimeOfDay, fields_out_of_range_give_the_empty_text)
{
    const struct {
        int hour, minute, second;
    } rows[] = {{24, 0, 0}, {-1, 0, 0}, {0, 60, 0}, {0, -1, 0}, {0, 0, 61}, {0, 0, -1}, {INT_MIN, 0, 0}};
    for (const auto& row : rows) {
        std::tm local_time{};
        local_time.tm_hour = row.hour;
        local_time.tm_min = row.minute;
        local_time.tm_sec = row.second;
        EXPECT_EQ(time_of_day_text(local_time), "") << row.hour << ":" << row.minute << ":" << row.second;
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
    use_local_time_source([](std::tm&) { return false; });
    EXPECT_EQ(time_of_day_text(), "");
    use_local_time_source({});
    EXPECT_EQ(time_of_day_text().size(), 8u);  // the system's own clock
}

TEST(TextHelpers, int_to_text)
{
    EXPECT_EQ(int_to_text(7), "7");
    EXPECT_EQ(int_to_text(100), "100");
    EXPECT_EQ(int_to_text(-12), "-12");
    EXPECT_EQ(int_to_text(0), "0");
    EXPECT_EQ(int_to_text(INT32_MAX), "2147483647");
    EXPECT_EQ(int_to_text(INT32_MIN), "-2147483648");
}

TEST(TextHelpers, repeat_char_takes_the_first_character)
{
    EXPECT_EQ(repeat_char(2, "0"), "00");
    EXPECT_EQ(repeat_char(3, "xyz"), "xxx");
    EXPECT_EQ(repeat_char(0, "0"), "");
    EXPECT_EQ(repeat_char(-1, "0"), "");
    EXPECT_EQ(repeat_char(INT32_MIN, "0"), "");
    EXPECT_EQ(repeat_char(5, ""), "");
}

TEST(TextHelpers, zero_padded_file_numbers)
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
}
