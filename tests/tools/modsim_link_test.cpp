// The simulator's COM link: made, replaced when stale, refused when live or not a
// link, and removed only while it is still ours.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "support/temp_folder.h"
#include "tools/modsim_link.h"

namespace fs = std::filesystem;

namespace {

class ModsimLink : public ::testing::Test {
protected:
    ScopedTempFolder temp{"modsim_test"};
    const std::string dir_ = temp.path.string();
    // A device that certainly exists, standing in for a live pseudo-terminal.
    const std::string live_target_ = "/dev/null";
    ComLink link;
    std::string error;

    bool claim(const std::string& ports_dir, uint32_t n)
    {
        return claim_com_link(ports_dir, n, live_target_, getpid(), link, error);
    }
    std::string com(int n) const { return dir_ + "/COM" + std::to_string(n); }
    void write_record(int n, long pid, const std::string& target) const
    {
        std::ofstream(dir_ + "/.COM" + std::to_string(n) + ".modsim") << pid << ' ' << target << '\n';
    }
};

constexpr long dead_pid = 0x3FFFFFF0;  // above any pid the kernel hands out

}  // namespace

TEST_F(ModsimLink, makes_link_and_record_then_removes_both)
{
    ASSERT_TRUE(claim(dir_, 3)) << error;
    EXPECT_EQ(fs::read_symlink(com(3)), live_target_);
    EXPECT_TRUE(fs::exists(dir_ + "/.COM3.modsim"));
    release_com_link(link);
    EXPECT_FALSE(fs::is_symlink(com(3)));
    EXPECT_FALSE(fs::exists(dir_ + "/.COM3.modsim"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);  // no temporaries left
}

TEST_F(ModsimLink, makes_missing_ports_folder)
{
    ASSERT_TRUE(claim(dir_ + "/ports", 10)) << error;
    EXPECT_TRUE(fs::is_symlink(dir_ + "/ports/COM10"));
}

TEST_F(ModsimLink, replaces_a_dangling_link_and_one_of_a_simulator_that_died)
{
    fs::create_symlink(dir_ + "/gone", com(3));
    fs::create_symlink("/dev/zero", com(4));
    write_record(4, dead_pid, "/dev/zero");
    for (int n : {3, 4}) {
        ASSERT_TRUE(claim(dir_, n)) << error;
        EXPECT_EQ(fs::read_symlink(com(n)), live_target_);
    }
}

TEST_F(ModsimLink, refuses_live_links_it_cannot_prove_stale_and_paths_that_are_not_links)
{
    fs::create_symlink("/dev/zero", com(4));
    write_record(4, 1, "/dev/zero");  // process 1 is always alive
    fs::create_symlink("/dev/zero", com(5));
    std::ofstream(com(6)) << "a file";
    fs::create_symlink("/dev/zero", com(7));
    write_record(7, 1, "/dev/null");  // a live owner's record, but for another target
    const struct {
        int n;
        const char* reason;
    } cases[] = {{4, "another simulator (pid 1)"},
                 {5, "remove the link first"},
                 {6, "not a symbolic link"},
                 {7, "remove the link first"}};
    for (const auto& c : cases) {
        EXPECT_FALSE(claim(dir_, c.n)) << c.n;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    EXPECT_EQ(fs::read_symlink(com(4)), "/dev/zero");
    EXPECT_TRUE(fs::is_regular_file(com(6)));
}

TEST_F(ModsimLink, release_leaves_a_newer_simulators_link_alone)
{
    ASSERT_TRUE(claim(dir_, 3)) << error;
    // Another simulator took the number over in the meantime.
    fs::remove(com(3));
    fs::create_symlink("/dev/zero", com(3));
    write_record(3, 1, "/dev/zero");
    release_com_link(link);
    EXPECT_EQ(fs::read_symlink(com(3)), "/dev/zero");
    EXPECT_TRUE(fs::exists(dir_ + "/.COM3.modsim"));
}
