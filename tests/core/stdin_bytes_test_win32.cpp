// Standard input as the programs read it on Windows: a pipe, a file,
// or none at all. Each test puts its own handle in place of standard input.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "core/stdin_bytes.h"

namespace {

// Waits for an effect, not a measure of time.
constexpr int32_t generous_wait_ms = 2000;

class StandardInput : public ::testing::Test {
protected:
    void SetUp() override { saved_ = GetStdHandle(STD_INPUT_HANDLE); }
    void TearDown() override { SetStdHandle(STD_INPUT_HANDLE, saved_); }
    static void use_as_standard_input(HANDLE input) { SetStdHandle(STD_INPUT_HANDLE, input); }

    // The next read's result and, for a byte, the byte; "" for nothing.
    static std::string next_read(int32_t timeout_ms)
    {
        uint8_t byte = 0;
        switch (read_stdin_byte(timeout_ms, byte)) {
        case StdinRead::byte:
            return std::string(1, static_cast<char>(byte));
        case StdinRead::nothing:
            return "";
        case StdinRead::ended:
            return "ended";
        }
        return "?";
    }

private:
    HANDLE saved_ = nullptr;
};

void write_all(HANDLE output, const std::string& text)
{
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    ASSERT_EQ(written, text.size());
}

}  // namespace

TEST_F(StandardInput, pipe_gives_each_byte_then_nothing_while_empty_and_ends_once_the_writer_is_gone)
{
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
    use_as_standard_input(read_end);
    write_all(write_end, "k\n");
    EXPECT_EQ(next_read(generous_wait_ms), "k");
    EXPECT_EQ(next_read(generous_wait_ms), "\n");
    EXPECT_EQ(next_read(20), "");
    write_all(write_end, "z");
    EXPECT_EQ(next_read(generous_wait_ms), "z");
    CloseHandle(write_end);
    EXPECT_EQ(next_read(generous_wait_ms), "ended");
    CloseHandle(read_end);
}

TEST_F(StandardInput, file_gives_each_byte_and_ends_at_its_end)
{
    std::array<char, MAX_PATH> folder{};
    std::array<char, MAX_PATH> name{};
    ASSERT_GT(GetTempPathA(static_cast<DWORD>(folder.size()), folder.data()), 0u);
    ASSERT_NE(GetTempFileNameA(folder.data(), "key", 0, name.data()), 0u);
    HANDLE file = CreateFileA(name.data(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    write_all(file, "xy");
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    use_as_standard_input(file);
    EXPECT_EQ(next_read(20), "x");
    EXPECT_EQ(next_read(20), "y");
    EXPECT_EQ(next_read(20), "ended");
    CloseHandle(file);
}

TEST_F(StandardInput, program_started_without_standard_input_has_ended_at_once)
{
    use_as_standard_input(nullptr);
    EXPECT_EQ(next_read(20), "ended");
}
