// The BMP snapshot: header fields, colour table, bottom-up rows, file names,
// and the statuses for files that cannot be created or written.
#include "gfx/snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/error_status.h"
#include "gfx/screen.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t u32_at(const std::vector<uint8_t>& bytes, size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | uint32_t{bytes[offset + 3]} << 24;
}

uint32_t u16_at(const std::vector<uint8_t>& bytes, size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8;
}

struct SnapshotTest : ::testing::Test {
    ErrorStatus status;
    Screen screen{status};
    fs::path folder;

    void SetUp() override
    {
        folder = fs::temp_directory_path() / ("snapshot_test_" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    int32_t save(const std::string& name) { return save_snapshot(screen, (folder / name).string(), status); }
};

TEST_F(SnapshotTest, header_fields_describe_an_800_by_600_8_bit_bitmap)
{
    ASSERT_EQ(save("BMP001.BMP"), 0);
    EXPECT_EQ(status.code(), 0);
    const auto bytes = read_bytes(folder / "BMP001.BMP");
    ASSERT_EQ(bytes.size(), static_cast<size_t>(snapshot_file_size));
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    struct Field {
        size_t offset;
        uint32_t value;
        bool wide;
    };
    const Field fields[] = {
        {2, 481078, true}, {6, 0, false},     {8, 0, false},      {10, 1078, true},   {14, 40, true},
        {18, 800, true},   {22, 600, true},   {26, 1, false},     {28, 8, false},     {30, 0, true},
        {34, 480000, true}, {38, 2834, true}, {42, 2834, true},   {46, 256, true},    {50, 256, true},
    };
    for (const Field& f : fields)
        EXPECT_EQ(f.wide ? u32_at(bytes, f.offset) : u16_at(bytes, f.offset), f.value) << "offset " << f.offset;
}

TEST_F(SnapshotTest, colour_table_holds_blue_green_red_zero_per_entry)
{
    ASSERT_EQ(save("a.bmp"), 0);
    const auto bytes = read_bytes(folder / "a.bmp");
    ASSERT_EQ(bytes.size(), static_cast<size_t>(snapshot_file_size));
    auto entry = [&](size_t index) { return u32_at(bytes, 54 + 4 * index); };
    EXPECT_EQ(entry(0), 0x00000000u);
    EXPECT_EQ(entry(1), 0x000000AAu);  // bytes AA 00 00 00
    EXPECT_EQ(entry(4), 0x00AA0000u);  // bytes 00 00 AA 00
    EXPECT_EQ(entry(6), 0x00AA5500u);  // brown: blue 0, green 85, red 170
    EXPECT_EQ(entry(15), 0x00FFFFFFu);
    EXPECT_EQ(entry(224), 0x002C2C40u);
}

TEST_F(SnapshotTest, rows_are_stored_from_the_bottom_line_up)
{
    screen.frame_for_drawing()[0] = 4;                       // (0, 0)
    screen.frame_for_drawing()[599 * 800] = 2;               // (0, 599)
    screen.frame_for_drawing()[300 * 800 + 799] = 9;         // (799, 300)
    ASSERT_EQ(save("rows.bmp"), 0);
    const auto bytes = read_bytes(folder / "rows.bmp");
    ASSERT_EQ(bytes.size(), static_cast<size_t>(snapshot_file_size));
    EXPECT_EQ(bytes[480278], 4);
    EXPECT_EQ(bytes[1078], 2);
    EXPECT_EQ(bytes[1078 + 299 * 800 + 799], 9);
    EXPECT_EQ(bytes[480278 + 1], 0);
}

TEST_F(SnapshotTest, white_screen_gives_480000_bytes_of_15)
{
    screen.set_text_colours(0, 15);
    screen.clear_window();
    ASSERT_EQ(save("white.BMP"), 0);
    const auto bytes = read_bytes(folder / "white.BMP");
    ASSERT_EQ(bytes.size(), static_cast<size_t>(snapshot_file_size));
    EXPECT_EQ(std::count(bytes.begin() + 1078, bytes.end(), uint8_t{15}), 480000);
}

TEST_F(SnapshotTest, missing_folder_gives_status_2_and_no_file)
{
    status.set(0);
    EXPECT_EQ(save("no/such/folder/x.bmp"), 2);
    EXPECT_EQ(status.code(), 2);
    EXPECT_FALSE(fs::exists(folder / "no"));
    EXPECT_EQ(save_snapshot(screen, "", status), 2);
}

TEST_F(SnapshotTest, full_device_gives_status_3)
{
    fs::create_symlink("/dev/full", folder / "x.bmp");
    EXPECT_EQ(save("x.bmp"), 3);
    EXPECT_EQ(status.code(), 3);
}

TEST_F(SnapshotTest, any_case_of_the_extension_and_other_names_give_the_same_bitmap)
{
    screen.frame_for_drawing()[12345] = 77;
    ASSERT_EQ(save("ref.BMP"), 0);
    const auto reference = read_bytes(folder / "ref.BMP");
    for (const char* name : {"m.bMp", "l.bmp", "o.png", "noext"}) {
        ASSERT_EQ(save(name), 0) << name;
        EXPECT_EQ(read_bytes(folder / name), reference) << name;
    }
}

TEST_F(SnapshotTest, backslash_is_a_folder_separator_too)
{
    fs::create_directories(folder / "sub");
    ASSERT_EQ(save_snapshot(screen, folder.string() + "\\sub\\b.bmp", status), 0);
    EXPECT_EQ(fs::file_size(folder / "sub" / "b.bmp"), static_cast<uintmax_t>(snapshot_file_size));
}

TEST_F(SnapshotTest, names_are_cut_at_259_characters)
{
    const std::string base = folder.string() + "/";
    ASSERT_LT(base.size(), 200u);
    const std::string kept = base + std::string(259 - base.size(), 'n');
    ASSERT_EQ(save_snapshot(screen, kept + "TAIL.BMP", status), 0);
    EXPECT_TRUE(fs::exists(kept));
}

TEST_F(SnapshotTest, existing_file_is_emptied_first)
{
    {
        std::ofstream big(folder / "old.bmp", std::ios::binary);
        big << std::string(600000, 'x');
    }
    ASSERT_EQ(save("old.bmp"), 0);
    EXPECT_EQ(fs::file_size(folder / "old.bmp"), static_cast<uintmax_t>(snapshot_file_size));
}

}  // namespace
