// The BMP snapshot: header fields, colour table, bottom-up rows, file names,
// and the statuses for files that cannot be created or written.
#include "screen/snapshot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/error_status.h"
#include "screen/screen.h"
#include "screen_test_support.h"

namespace {

namespace fs = std::filesystem;

uint32_t byte_at(const std::string& bytes, size_t offset) { return static_cast<uint8_t>(bytes.at(offset)); }
uint32_t u16_at(const std::string& bytes, size_t offset)
{
    return byte_at(bytes, offset) | byte_at(bytes, offset + 1) << 8;
}
uint32_t u32_at(const std::string& bytes, size_t offset)
{
    return u16_at(bytes, offset) | u16_at(bytes, offset + 2) << 16;
}

struct SnapshotTest : ::testing::Test {
    ErrorStatus status;
    Screen screen{status};
    TempFolder temp;
    const fs::path& folder = temp.path;

    int32_t save(const std::string& name) { return save_snapshot(screen, (folder / name).string(), status); }
    // The saved file of a snapshot that succeeded.
    std::string saved(const std::string& name)
    {
        EXPECT_EQ(save(name), 0) << name;
        EXPECT_EQ(status.code(), 0) << name;
        std::string bytes = file_bytes(folder / name);
        EXPECT_EQ(bytes.size(), static_cast<size_t>(snapshot_file_size)) << name;
        return bytes;
    }
};

TEST_F(SnapshotTest, header_fields_describe_an_800_by_600_8_bit_bitmap)
{
    const std::string bytes = saved("BMP001.BMP");
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    struct Field {
        size_t offset;
        uint32_t value;
        bool wide;
    };
    const Field fields[] = {
        {2, 481078, true},  {6, 0, false},    {8, 0, false},    {10, 1078, true}, {14, 40, true},
        {18, 800, true},    {22, 600, true},  {26, 1, false},   {28, 8, false},   {30, 0, true},
        {34, 480000, true}, {38, 2834, true}, {42, 2834, true}, {46, 256, true},  {50, 256, true},
    };
    for (const Field& f : fields)
        EXPECT_EQ(f.wide ? u32_at(bytes, f.offset) : u16_at(bytes, f.offset), f.value) << "offset " << f.offset;
}

TEST_F(SnapshotTest, colour_table_holds_blue_green_red_zero_per_entry)
{
    const std::string bytes = saved("a.bmp");
    const Palette palette = default_palette();
    for (size_t i = 0; i < palette.size(); ++i)
        EXPECT_EQ(u32_at(bytes, 54 + 4 * i), uint32_t{palette[i].red} << 16 | palette[i].green << 8 | palette[i].blue)
            << "entry " << i;
}

TEST_F(SnapshotTest, rows_are_stored_from_the_bottom_line_up)
{
    screen.frame_for_drawing()[0] = 4;                // (0, 0)
    screen.frame_for_drawing()[599 * 800] = 2;        // (0, 599)
    screen.frame_for_drawing()[300 * 800 + 799] = 9;  // (799, 300)
    const std::string bytes = saved("rows.bmp");
    EXPECT_EQ(byte_at(bytes, 480278), 4u);
    EXPECT_EQ(byte_at(bytes, 1078), 2u);
    EXPECT_EQ(byte_at(bytes, 1078 + 299 * 800 + 799), 9u);
    EXPECT_EQ(byte_at(bytes, 480278 + 1), 0u);
}

TEST_F(SnapshotTest, a_file_that_cannot_be_made_gives_2)
{
    EXPECT_EQ(save("no/such/folder/x.bmp"), 2);
    EXPECT_EQ(status.code(), 2);
    EXPECT_FALSE(fs::exists(folder / "no"));
    status.set(0);
    EXPECT_EQ(save_snapshot(screen, "", status), 2);
    EXPECT_EQ(status.code(), 2);
}

TEST_F(SnapshotTest, a_file_that_cannot_be_written_gives_3)
{
    std::error_code no_link;
    fs::create_symlink("/dev/full", folder / "x.bmp", no_link);
    if (no_link || !fs::exists("/dev/full"))
        GTEST_SKIP() << "needs a device that is always full";
    EXPECT_EQ(save("x.bmp"), 3);
    EXPECT_EQ(status.code(), 3);
}

// Any extension or none gives the same bitmap; a backslash separates folders; a name is cut at 259 characters.
TEST_F(SnapshotTest, names_are_taken_as_given_with_either_separator_and_cut_at_259_characters)
{
    screen.frame_for_drawing()[12345] = 77;
    const std::string reference = saved("ref.BMP");
    fs::create_directories(folder / "sub");
    const std::string base = folder.string() + "/";
    ASSERT_LT(base.size(), 200u);
    const std::string kept(259 - base.size(), 'n');
    const std::pair<std::string, fs::path> names[] = {{"m.bMp", "m.bMp"},
                                                      {"o.png", "o.png"},
                                                      {"noext", "noext"},
                                                      {"sub\\b.bmp", "sub/b.bmp"},
                                                      {kept + "TAIL.BMP", kept}};
    for (const auto& [given, made] : names) {
        ASSERT_EQ(save_snapshot(screen, base + given, status), 0) << given;
        EXPECT_EQ(file_bytes(folder / made), reference) << given;
    }
}

TEST_F(SnapshotTest, existing_file_is_emptied_first)
{
    std::ofstream(folder / "old.bmp", std::ios::binary) << std::string(600000, 'x');
    saved("old.bmp");
}

}  // namespace
