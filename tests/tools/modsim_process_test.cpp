// build/modsim as a process: a client in the test opens the COM link with plain
// termios and talks to it as the logger would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/child_process.h"
#include "support/temp_folder.h"
#include "tools_test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string modsim_program = std::string(LOGGER_BUILD_DIR) + "/modsim";

struct Simulator : ChildProcess {
    explicit Simulator(const std::vector<std::string>& args) : ChildProcess(modsim_program, args) {}
    // The next line it prints, saying where it serves.
    std::string first_line() { return output_until("\n"); }
};

// The logger's side of the line, reduced to what the test needs.
class Client {
public:
    explicit Client(const std::string& path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            return;
        termios settings{};
        tcgetattr(fd_, &settings);
        cfmakeraw(&settings);
        tcsetattr(fd_, TCSANOW, &settings);
        tcflush(fd_, TCIFLUSH);
    }
    ~Client()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool is_open() const { return fd_ >= 0; }

    // Sends a request and gathers bytes until a line end, a hang-up, or timeout_ms.
    std::string exchange(int timeout_ms = 2000)
    {
        hung_up_ = write(fd_, "X\r\n", 3) != 3;
        return hung_up_ ? std::string() : read_until(fd_, "\r\n", timeout_ms, &hung_up_);
    }
    bool hung_up() const { return hung_up_; }

private:
    int fd_ = -1;
    bool hung_up_ = false;
};

class ModsimProcess : public ::testing::Test {
protected:
    ScopedTempFolder temp{"modsim_test"};
    const std::string dir_ = temp.path.string();
    const std::string ports_ = dir_ + "/ports";

    std::vector<std::string> serve_com3(std::vector<std::string> extra) const
    {
        std::vector<std::string> args = {"--ports-dir", ports_, "--port", "3"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
};

}  // namespace

TEST_F(ModsimProcess, fifty_sound_exchanges_logged_and_served_again_after_reopen)
{
    std::string log_path = dir_ + "/modsim.log";
    Simulator simulator(serve_com3({"--log", log_path}));
    ASSERT_TRUE(simulator.started());
    std::string where = simulator.first_line();
    ASSERT_TRUE(where.starts_with("modsim: COM3 -> /dev/pts/")) << where;
    EXPECT_EQ(fs::read_symlink(ports_ + "/COM3").string() + "\n", where.substr(where.find("/dev/")));

    std::vector<std::string> replies;
    {
        Client client(ports_ + "/COM3");
        ASSERT_TRUE(client.is_open());
        for (int i = 1; i <= 50; ++i) {
            std::string reply = client.exchange();
            ASSERT_NO_FATAL_FAILURE(expect_sound_reply(reply)) << "exchange " << i;
            replies.push_back(reply);
        }
    }
    // The logger closes the port and opens it again: the simulator is still there.
    Client again(ports_ + "/COM3");
    ASSERT_TRUE(again.is_open());
    std::string reply = again.exchange();
    EXPECT_NO_FATAL_FAILURE(expect_sound_reply(reply));

    std::ifstream log(log_path);
    std::string line;
    int request_lines = 0;
    while (std::getline(log, line)) {
        if (line.find(" request ") == std::string::npos)
            continue;
        ++request_lines;
        if (request_lines > 50)
            continue;
        std::string expected_tail = " request " + std::to_string(request_lines) + " ok \"" +
                                    replies[request_lines - 1].substr(0, replies[request_lines - 1].size() - 2) +
                                    "\\r\\n\"";
        EXPECT_TRUE(line.ends_with(expected_tail)) << line << " / " << expected_tail;
    }
    EXPECT_EQ(request_lines, 51);
}

TEST_F(ModsimProcess, hangup_is_seen_by_the_client_and_the_link_goes)
{
    Simulator simulator(serve_com3({"--hangup-at", "3"}));
    ASSERT_FALSE(simulator.first_line().empty());
    Client client(ports_ + "/COM3");
    ASSERT_TRUE(client.is_open());
    EXPECT_FALSE(client.exchange().empty());
    EXPECT_FALSE(client.exchange().empty());
    EXPECT_EQ(client.exchange(), "");
    EXPECT_TRUE(client.hung_up());
    EXPECT_EQ(simulator.wait_exit(), 0);
    EXPECT_FALSE(fs::is_symlink(ports_ + "/COM3"));
}

TEST_F(ModsimProcess, vanished_pty_hangs_up_then_returns_under_the_same_link)
{
    std::string log_path = dir_ + "/modsim.log";
    Simulator simulator(serve_com3({"--vanish-at", "2", "--vanish-for", "300", "--log", log_path}));
    ASSERT_FALSE(simulator.first_line().empty());
    {
        Client client(ports_ + "/COM3");
        ASSERT_TRUE(client.is_open());
        EXPECT_FALSE(client.exchange().empty());
        EXPECT_FALSE(client.exchange().empty());  // the last reply still arrives
        EXPECT_EQ(client.exchange(), "");
        EXPECT_TRUE(client.hung_up());
        EXPECT_FALSE(fs::is_symlink(ports_ + "/COM3"));
    }
    EXPECT_TRUE(simulator.first_line().starts_with("modsim: COM3 -> /dev/pts/"));
    Client client(ports_ + "/COM3");
    ASSERT_TRUE(client.is_open());
    EXPECT_FALSE(client.exchange().empty());

    std::stringstream log;
    log << std::ifstream(log_path).rdbuf();
    EXPECT_NE(log.str().find(" vanish 2 \"/dev/pts/"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find(" return 2 \"/dev/pts/"), std::string::npos) << log.str();
}

TEST_F(ModsimProcess, socket_is_served_once_it_listens_and_ends_when_closed)
{
    std::string socket_path = dir_ + "/ser.sock";
    Simulator simulator({"--socket", socket_path, "--values", "512,600,700", "--switch", "0"});
    usleep(50'000);  // the simulator is already trying: the socket comes later, as an emulator's does
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    int connection = accept(listener, nullptr, nullptr);
    ASSERT_GE(connection, 0);
    EXPECT_EQ(simulator.first_line(), "modsim: connected to " + socket_path + "\n");
    ASSERT_EQ(write(connection, "X\r\n", 3), 3);
    EXPECT_EQ(read_until(connection, "\n", 2000), "X,0,0,512,600,700,1812\r\n");
    close(connection);
    close(listener);
    EXPECT_EQ(simulator.wait_exit(), 0);
}

TEST_F(ModsimProcess, stop_signals_end_it_cleanly_and_remove_the_link)
{
    for (int signal_number : {SIGTERM, SIGINT}) {
        Simulator simulator(serve_com3({}));
        ASSERT_FALSE(simulator.first_line().empty());
        ASSERT_TRUE(fs::is_symlink(ports_ + "/COM3"));
        simulator.signal(signal_number);
        EXPECT_EQ(simulator.wait_exit(), 0) << signal_number;
        EXPECT_FALSE(fs::is_symlink(ports_ + "/COM3")) << signal_number;
        EXPECT_FALSE(fs::exists(ports_ + "/.COM3.modsim")) << signal_number;
    }
}

TEST_F(ModsimProcess, second_simulator_on_a_live_port_is_refused)
{
    Simulator first(serve_com3({}));
    std::string where = first.first_line();
    ASSERT_FALSE(where.empty());
    Simulator second(serve_com3({}));
    EXPECT_EQ(second.wait_exit(), 1);
    // The first one's link and service are untouched.
    Client client(ports_ + "/COM3");
    ASSERT_TRUE(client.is_open());
    EXPECT_FALSE(client.exchange().empty());
}

TEST_F(ModsimProcess, serves_a_given_device)
{
    Pty module;
    ASSERT_FALSE(module.slave.empty());
    Simulator simulator({"--device", module.slave, "--values", "512,600,700", "--switch", "0"});
    EXPECT_EQ(simulator.first_line(), "modsim: serving " + module.slave + "\n");
    ASSERT_EQ(write(module.master, "X\r\n", 3), 3);
    EXPECT_EQ(read_until(module.master, "\n", 2000), "X,0,0,512,600,700,1812\r\n");
}

TEST_F(ModsimProcess, bad_arguments_exit_2_without_making_a_link)
{
    Simulator simulator(serve_com3({"--values", "1,2"}));
    EXPECT_EQ(simulator.wait_exit(), 2);
    EXPECT_FALSE(fs::exists(ports_));
}
