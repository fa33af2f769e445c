// Whole runs of the logger under faults of the file system, floods of operator
// input and a full-day run, in one process on virtual time. Tests that mount a
// file system over the run's folder skip where mounting is not allowed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/run_settings.h"
#include "program_fixture.h"
#include "screen_reading.h"

// Under AddressSanitizer the heap is the sanitizer's: its own count of the bytes
// in use, and a resident size that grows with the quarantine of freed blocks.
#if defined(__SANITIZE_ADDRESS__)
#define FAULTS_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAULTS_TEST_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef FAULTS_TEST_ADDRESS_SANITIZER
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint8_t red = 4;
constexpr uint8_t black = 0;

// A small tmpfs mounted over the run's folder for the length of a test; the
// program's working folder moves onto it.
class MountedFolder {
public:
    MountedFolder(const fs::path& folder, unsigned long flags, const char* options) : folder_(folder)
    {
        mounted_ = mount("tmpfs", folder.c_str(), "tmpfs", flags, options) == 0;
        if (mounted_)
            fs::current_path(folder);
    }
    ~MountedFolder()
    {
        if (!mounted_)
            return;
        fs::current_path("/");
        umount2(folder_.c_str(), MNT_DETACH);
        fs::current_path(folder_);
    }
    bool mounted() const { return mounted_; }

private:
    fs::path folder_;
    bool mounted_ = false;
};

// The rows of a data file, each checked to be complete: the file ends with a
// row end and every sample row has its 14 fields.
std::vector<std::string> complete_rows(const ProgramFixture& program, const std::string& name)
{
    const std::string contents = program.read_file(name);
    EXPECT_TRUE(contents.size() >= 2 && contents.compare(contents.size() - 2, 2, "\r\n") == 0)
        << "the file ends inside a row: ..." << contents.substr(contents.size() > 60 ? contents.size() - 60 : 0);
    std::vector<std::string> rows = program.data_rows(name);
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), ','), 13) << "row " << i << ": " << rows[i];
    return rows;
}

void make_socket(const fs::path& path)
{
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    ASSERT_LT(text.size(), sizeof address.sun_path);
    text.copy(address.sun_path, text.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(listener);  // the socket file stays
}

int64_t open_descriptors() { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}); }

size_t heap_in_use()
{
#ifdef FAULTS_TEST_ADDRESS_SANITIZER
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

#ifdef FAULTS_TEST_ADDRESS_SANITIZER
constexpr bool resident_size_is_flat = false;
#else
constexpr bool resident_size_is_flat = true;
#endif

int64_t resident_kib()
{
    std::ifstream statm("/proc/self/statm");
    int64_t size_pages = 0;
    int64_t resident_pages = 0;
    statm >> size_pages >> resident_pages;
    return resident_pages * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

TEST(FileSystemFaults, a_disk_that_fills_up_keeps_every_complete_row_and_no_part_of_one)
{
    ProgramFixture program;
    MountedFolder small_disk(program.folder, 0, "size=16k");
    if (!small_disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    start_run(program);

    EXPECT_EQ(program.run(), 0);
    EXPECT_EQ(program.module.requests, 50 + 721);  // the run went on to its last column
    const std::vector<std::string> rows = complete_rows(program, "DATA001.CSV");
    EXPECT_GT(rows.size(), 100u);
    EXPECT_LT(rows.size(), 722u);
    // Nothing fits the picture, and no crash either.
    EXPECT_EQ(text_at(program.screen, 1, 53, 22, black), "Data File: DATA001.CSV");
}

TEST(FileSystemFaults, a_read_only_folder_runs_unrecorded_with_the_warning)
{
    ProgramFixture program;
    MountedFolder read_only(program.folder, MS_RDONLY, "size=64k");
    if (!read_only.mounted())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    start_run(program);
    press_escape_at_column(program, 20);

    EXPECT_EQ(program.run(), 0);
    EXPECT_EQ(program.module.requests, 50 + 20);
    EXPECT_TRUE(fs::is_empty(program.folder));
    EXPECT_EQ(text_at(program.screen, 3, 2, 21, red), "WARNING: NO DATA FILE");
    EXPECT_EQ(text_at(program.screen, 1, 53, 22, black), "Data File: DATA001.CSV");
}

TEST(FileSystemFaults, entries_that_are_no_readable_files_are_taken_and_left_as_they_are)
{
    ProgramFixture program;
    const fs::path& folder = program.folder;
    ASSERT_EQ(mkfifo((folder / "DATA001.CSV").c_str(), 0600), 0);
    fs::create_directory(folder / "DATA002.CSV");
    fs::create_symlink("nowhere", folder / "DATA003.CSV");
    make_socket(folder / "DATA004.CSV");
    fs::create_symlink("/dev/null", folder / "DATA005.CSV");
    fs::create_symlink("DATA001.CSV", folder / "DATA006.CSV");
    ASSERT_EQ(mkfifo((folder / "BMP007.BMP").c_str(), 0600), 0);
    start_run(program);
    press_escape_at_column(program, 3);

    EXPECT_EQ(program.run(), 0);  // before, the fifo held the program in its open for good
    EXPECT_TRUE(fs::is_fifo(folder / "DATA001.CSV"));
    EXPECT_TRUE(fs::is_directory(folder / "DATA002.CSV") && fs::is_empty(folder / "DATA002.CSV"));
    EXPECT_TRUE(fs::is_symlink(folder / "DATA003.CSV"));
    EXPECT_FALSE(fs::exists(folder / "nowhere"));
    EXPECT_TRUE(fs::is_socket(folder / "DATA004.CSV"));
    EXPECT_TRUE(fs::is_symlink(folder / "DATA005.CSV"));
    EXPECT_TRUE(fs::is_symlink(folder / "DATA006.CSV"));
    EXPECT_EQ(complete_rows(program, "DATA008.CSV").size(), 1u + 3u);
    EXPECT_TRUE(fs::is_fifo(folder / "BMP007.BMP"));  // the picture is not saved, and nothing waits
}

TEST(OperatorInput, floods_long_lines_and_every_extended_key_at_every_prompt_leave_the_dialogue_sound)
{
    ProgramFixture program;
    program.clock.set_step_per_reading_us(1000);
    std::mt19937 random(20261208);
    std::vector<uint32_t> keys;
    const auto type = [&](const std::string& text) { keys.insert(keys.end(), text.begin(), text.end()); };
    // Every key the editor knows and many it does not, then Escape to empty the line.
    const auto every_key = [&] {
        type("ab");
        for (uint32_t code = 0; code < 256; ++code)
            keys.push_back(extended_key(static_cast<uint8_t>(code)));
        for (uint32_t code = 1; code < 256; ++code)
            if (code != key_enter && code != 10)
                keys.push_back(code);
        keys.push_back(key_escape);
    };
    const auto flood = [&](size_t count) {
        std::uniform_int_distribution<uint32_t> byte(1, 255);
        for (size_t i = 0; i < count; ++i) {
            uint32_t code = byte(random);
            if (code == key_enter || code == 10)
                code = key_backspace;
            keys.push_back(code);
        }
    };
    const auto enter = [&] { keys.push_back(key_enter); };

    // Port: a flood of 3000 keys, a line far wider than the grid, then every key; "3" with 5000 more characters reads as 3.
    flood(3000);
    enter();
    type(std::string(250, '7'));
    enter();
    every_key();
    type("3" + std::string(5000, 'x'));
    enter();
    // Run length: every key, a flood, then 1.
    every_key();
    flood(3000);
    keys.push_back(key_escape);
    type("1");
    enter();
    // Mode: a line beyond the 4096-byte field ("V" and 5000 more) is not "V"; every key; then V.
    type("V" + std::string(5000, 'V'));
    enter();
    every_key();
    type("V");
    enter();
    program.type_keys(keys);
    // During the run a flood of keys that are not ESC is ignored; then ESC.
    program.module.on_request = [&program](int32_t n) {
        if (n > 50 && n < 50 + 30)
            for (uint32_t code = 1; code < 200; ++code)
                if (code != key_escape)
                    program.screen.queue_key(code == 13 ? key_close_window : code);
        if (n == 50 + 30)
            program.screen.queue_key(key_escape);
    };

    EXPECT_EQ(program.run(), 0);
    EXPECT_EQ(program.port_open_strings, std::vector<std::string>{"COM3:38400,n,8,1,cs0,cd0,ds0,rs"});
    EXPECT_EQ(complete_rows(program, "DATA001.CSV").size(), 1u + 30u);
    EXPECT_EQ(text_at(program.screen, 3, 60, 7, black), "Seconds");
    EXPECT_EQ(text_at(program.screen, 19, 3, 1, black), "V");
}

TEST(LongRun, a_whole_day_keeps_memory_and_open_descriptors_flat)
{
    ProgramFixture program;
    start_run(program, "1440", "T");
    program.clock.set_step_per_reading_us(500'000);
    struct Figures {
        int32_t column;
        size_t heap_bytes;
        int64_t resident_kib;
        int64_t descriptors;
    };
    std::vector<Figures> figures;
    program.module.on_request = [&](int32_t n) {
        const int32_t column = n - 50;
        if (column >= 10 && (column - 10) % 100 == 0)
            figures.push_back({column, heap_in_use(), resident_kib(), open_descriptors()});
    };

    EXPECT_EQ(program.run(), 0);
    EXPECT_EQ(complete_rows(program, "DATA001.CSV").size(), 722u);
    ASSERT_EQ(figures.size(), 8u);
    for (const Figures& f : figures)
        std::printf("column %3d: heap in use %zu bytes, resident %lld KiB, open descriptors %lld\n", f.column,
                    f.heap_bytes, static_cast<long long>(f.resident_kib), static_cast<long long>(f.descriptors));
    for (const Figures& f : figures) {
        EXPECT_EQ(f.descriptors, figures.front().descriptors) << "column " << f.column;
        // The heap holds the same things at every column: a few small strings come and go.
        EXPECT_LE(f.heap_bytes, figures.front().heap_bytes + 4096) << "column " << f.column;
        if (resident_size_is_flat) {
            EXPECT_LE(f.resident_kib, figures.front().resident_kib + 1024) << "column " << f.column;
        }
    }
}
