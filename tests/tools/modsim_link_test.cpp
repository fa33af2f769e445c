// The simulator's COM link: made, replaced when stale, refused when live or not a
// link, and removed only while it is still ours.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "tools/modsim_link.h"

namespace fs = std::filesystem;

namespace {

class ModsimLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/modsim_link_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // A device that certainly exists, standing in for a live pseudo-terminal.
        live_target_ = "/dev/null";
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string com(int n) const { return dir_ + "/COM" + std::to_string(n); }
    void write_record(int n, long pid, const std::string& target) const
    {
        std::ofstream(dir_ + "/.COM" + std::to_string(n) + ".modsim") << pid << ' ' << target << '\n';
    }

    std::string dir_;
    std::string live_target_;
};

constexpr long dead_pid = 0x3FFFFFF0;  // above any pid the kernel hands out

}  // namespace

TEST_F(ModsimLink, makes_link_and_record_then_removes_both)
{
    ComLink link;
    std::string error;
    ASSERT_TRUE(claim_com_link(dir_, 3, live_target_, getpid(), link, error)) << error;
    EXPECT_EQ(fs::read_symlink(com(3)), live_target_);
    EXPECT_TRUE(fs::exists(dir_ + "/.COM3.modsim"));
    release_com_link(link);
    EXPECT_FALSE(fs::is_symlink(com(3)));
    EXPECT_FALSE(fs::exists(dir_ + "/.COM3.modsim"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);  // no temporaries left
}

TEST_F(ModsimLink, makes_missing_ports_folder)
{
    ComLink link;
    std::string error;
    ASSERT_TRUE(claim_com_link(dir_ + "/ports", 10, live_target_, getpid(), link, error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir_ + "/ports/COM10"));
}

TEST_F(ModsimLink, replaces_dangling_link)
{
    fs::create_symlink(dir_ + "/gone", com(3));
    ComLink link;
    std::string error;
    ASSERT_TRUE(claim_com_link(dir_, 3, live_target_, getpid(), link, error)) << error;
    EXPECT_EQ(fs::read_symlink(com(3)), live_target_);
}

TEST_F(ModsimLink, replaces_live_link_of_a_simulator_that_died)
{
    fs::create_symlink("/dev/zero", com(4));
    write_record(4, dead_pid, "/dev/zero");
    ComLink link;
    std::string error;
    ASSERT_TRUE(claim_com_link(dir_, 4, live_target_, getpid(), link, error)) << error;
    EXPECT_EQ(fs::read_symlink(com(4)), live_target_);
}

TEST_F(ModsimLink, refuses_link_of_a_live_simulator)
{
    fs::create_symlink("/dev/zero", com(4));
    write_record(4, 1, "/dev/zero");  // process 1 is always alive
    ComLink link;
    std::string error;
    EXPECT_FALSE(claim_com_link(dir_, 4, live_target_, getpid(), link, error));
    EXPECT_NE(error.find("another simulator (pid 1)"), std::string::npos) << error;
    EXPECT_EQ(fs::read_symlink(com(4)), "/dev/zero");
}

TEST_F(ModsimLink, refuses_unrecorded_link_to_live_device_and_non_links)
{
    fs::create_symlink("/dev/zero", com(5));
    std::ofstream(com(6)) << "a file";
    ComLink link;
    std::string error;
    EXPECT_FALSE(claim_com_link(dir_, 5, live_target_, getpid(), link, error));
    EXPECT_NE(error.find("remove the link first"), std::string::npos) << error;
    EXPECT_FALSE(claim_com_link(dir_, 6, live_target_, getpid(), link, error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_regular_file(com(6)));
}

TEST_F(ModsimLink, release_leaves_a_newer_simulators_link_alone)
{
    ComLink link;
    std::string error;
    ASSERT_TRUE(claim_com_link(dir_, 3, live_target_, getpid(), link, error)) << error;
    // Another simulator took the number over in the meantime.
    fs::remove(com(3));
    fs::create_symlink("/dev/zero", com(3));
    write_record(3, 1, "/dev/zero");
    release_com_link(link);
    EXPECT_EQ(fs::read_symlink(com(3)), "/dev/zero");
    EXPECT_TRUE(fs::exists(dir_ + "/.COM3.modsim"));
}
