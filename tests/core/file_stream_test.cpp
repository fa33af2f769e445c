// Opening files as streams: what is not a file is refused at once, never waited on.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/file_stream.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class FileStreamTest : public ::testing::Test {
protected:
    ScopedTempFolder temp{"file_stream"};
    const fs::path& folder = temp.path;
    std::string path(const char* name) const { return (folder / name).string(); }
};

}  // namespace

TEST_F(FileStreamTest, a_fifo_is_refused_in_every_mode_without_waiting_for_a_partner)
{
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    for (const char* mode : {"rb", "r", "r+b", "wb", "w+b", "ab"})
        EXPECT_EQ(open_file_stream(path("pipe"), mode), nullptr) << mode;
    EXPECT_TRUE(fs::is_fifo(folder / "pipe"));
}

TEST_F(FileStreamTest, folders_sockets_and_links_to_them_are_refused)
{
    fs::create_directory(folder / "dir");
    fs::create_symlink(folder / "dir", folder / "link_to_dir");
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socket_path = path("sock");
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    socket_path.copy(address.sun_path, socket_path.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    for (const char* name : {"dir", "link_to_dir", "sock"})
        EXPECT_EQ(open_file_stream(path(name), "rb"), nullptr) << name;
    close(listener);
}

TEST_F(FileStreamTest, files_open_as_fopen_opens_them_and_devices_stay_usable)
{
    std::FILE* created = open_file_stream(path("new.txt"), "w+b");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(std::fputs("abc", created), 1);
    EXPECT_EQ(std::fclose(created), 0);

    std::FILE* appended = open_file_stream(path("new.txt"), "ab");
    ASSERT_NE(appended, nullptr);
    std::fputs("d", appended);
    std::fclose(appended);

    std::FILE* read_back = open_file_stream(path("new.txt"), "rb");
    ASSERT_NE(read_back, nullptr);
    char text[8] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, read_back), 4u);
    EXPECT_STREQ(text, "abcd");
    std::fclose(read_back);

    EXPECT_EQ(open_file_stream(path("missing.txt"), "rb"), nullptr);
    EXPECT_EQ(open_file_stream(path("new.txt"), "x"), nullptr);
    // "x": made only where no entry of the name is, not even a dangling link.
    std::FILE* made = open_file_stream(path("only.bmp"), "wbx");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    fs::create_symlink(folder / "nowhere", folder / "dangling");
    for (const char* name : {"only.bmp", "new.txt", "dangling"}) {
        EXPECT_EQ(open_file_stream(path(name), "wbx"), nullptr) << name;
        EXPECT_EQ(errno, EEXIST) << name;
    }
    EXPECT_TRUE(fs::exists(folder / "only.bmp") && !fs::exists(folder / "nowhere"));
    std::FILE* device = open_file_stream("/dev/null", "wb");
    ASSERT_NE(device, nullptr);
    std::fclose(device);
}
