// The serial device on Linux: with a stand-in for the kernel (interrupted
// calls, short writes, hang-ups, time-outs, refused settings) and over real
// pseudo-terminals linked into a private ports folder.
#include "io/posix_serial_calls.h"
#include "io/serial_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "io_test_support.h"
#include "support/pty.h"

namespace {

namespace fs = std::filesystem;

constexpr int fake_fd = 42;

struct ReadStep {
    ssize_t result;
    std::string bytes;
};

struct PollStep {
    int result;
    short revents;
};

// The kernel as a script: each call takes the next scripted answer, or a
// default when the script has run out.
class FakeCalls final : public PosixSerialCalls {
public:
    std::vector<std::string> trace;
    int open_result = fake_fd;
    int open_flags_seen = 0;
    bool terminal = true;
    int lock_result = 0;
    int exclusive_result = 0;
    int get_attributes_result = 0;
    int set_attributes_result = 0;
    std::optional<termios> settings;
    int set_modem_result = 0;
    int set_lines = 0;
    int cleared_lines = 0;
    int get_modem_result = -ENOTTY;
    int modem_lines = 0;
    int queued_result = 0;
    int queued = 0;
    std::deque<ReadStep> reads;  // empty: nothing waiting (EAGAIN)
    std::deque<ssize_t> writes;  // empty: every byte taken
    std::deque<PollStep> polls;  // empty: time-out
    std::vector<int> poll_timeouts_ms;
    std::string wire;

    int open_path(const char*, int flags) override
    {
        trace.push_back("open");
        open_flags_seen = flags;
        return open_result;
    }
    int close_fd(int) override { return note("close"); }
    ssize_t read_bytes(int, void* buffer, size_t count) override
    {
        if (reads.empty())
            return -EAGAIN;
        ReadStep step = reads.front();
        reads.pop_front();
        if (step.result > 0) {
            const size_t n = std::min(count, step.bytes.size());
            step.bytes.copy(static_cast<char*>(buffer), n);
            return static_cast<ssize_t>(n);
        }
        return step.result;
    }
    ssize_t write_bytes(int, const void* bytes, size_t count) override
    {
        ssize_t result = static_cast<ssize_t>(count);
        if (!writes.empty()) {
            result = writes.front();
            writes.pop_front();
        }
        if (result > 0) {
            result = std::min(result, static_cast<ssize_t>(count));
            wire.append(static_cast<const char*>(bytes), static_cast<size_t>(result));
        }
        return result;
    }
    int poll_fd(pollfd* entry, int timeout_ms) override
    {
        poll_timeouts_ms.push_back(timeout_ms);
        PollStep step{0, 0};
        if (!polls.empty()) {
            step = polls.front();
            polls.pop_front();
        }
        entry->revents = step.revents;
        return step.result;
    }
    bool is_terminal(int) override { return terminal; }
    int lock_exclusive(int) override { return note("lock", lock_result); }
    int unlock(int) override { return note("unlock"); }
    int set_exclusive(int) override { return note("exclusive", exclusive_result); }
    int clear_exclusive(int) override { return note("clear_exclusive"); }
    int get_attributes(int, termios* out) override
    {
        *out = termios{};
        out->c_lflag = ICANON | ECHO;
        out->c_cflag = HUPCL;
        return get_attributes_result;
    }
    int set_attributes(int, const termios* in) override
    {
        settings = *in;
        return set_attributes_result;
    }
    int get_modem_lines(int, int* lines) override
    {
        *lines = modem_lines;
        return get_modem_result;
    }
    int set_modem_lines(int, int lines) override
    {
        set_lines |= lines;
        return set_modem_result;
    }
    int clear_modem_lines(int, int lines) override
    {
        cleared_lines |= lines;
        return set_modem_result;
    }
    int bytes_queued(int, int* count) override
    {
        *count = queued;
        return queued_result;
    }

private:
    int note(const char* name, int result = 0)
    {
        trace.emplace_back(name);
        return result;
    }
};

constexpr const char* logger_string = "COM3:38400,n,8,1,cs0,cd0,ds0,rs";

class SerialSeamTest : public ::testing::Test {
protected:
    FakeCalls calls;
    VirtualClock clock;
    ErrorStatus status;
    ChannelTable channels{status};

    void SetUp() override
    {
        use_posix_serial_calls(&calls);
        use_program_clock(&clock);
        setenv("LOGGER_PORTS", "/nonexistent-io-test-ports", 1);
    }
    void TearDown() override
    {
        channels.close_all();
        use_posix_serial_calls(nullptr);
        use_program_clock(nullptr);
        unsetenv("LOGGER_PORTS");
    }

    void open(const char* open_string = logger_string)
    {
        testing::internal::CaptureStderr();
        channels.open_port(2, open_string, mode_random, 0, 0, 0);
        open_errors = testing::internal::GetCapturedStderr();
    }

    std::string get(size_t count) { return read_channel(channels, 2, count); }

    std::string open_errors;
};

TEST_F(SerialSeamTest, logger_string_sets_raw_38400_8n1_without_flow_control)
{
    open();
    ASSERT_EQ(status.code(), status_ok);
    EXPECT_EQ(channels.channel(2)->mode, mode_binary);
    EXPECT_EQ(channels.channel(2)->access, access_read_write);
    EXPECT_EQ(calls.open_flags_seen & O_ACCMODE, O_RDWR);
    EXPECT_TRUE(calls.open_flags_seen & O_NOCTTY);
    ASSERT_TRUE(calls.settings);
    const termios& t = *calls.settings;
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    EXPECT_EQ(calls.set_lines, TIOCM_DTR);
    EXPECT_EQ(calls.cleared_lines, TIOCM_RTS);
    EXPECT_EQ(calls.trace, (std::vector<std::string>{"open", "lock", "exclusive"}));
    EXPECT_TRUE(open_errors.empty());
}

TEST_F(SerialSeamTest, bare_port_has_hardware_flow_and_waits_on_lines_that_are_absent)
{
    open("COM3:");
    ASSERT_EQ(status.code(), status_ok);
    const termios& t = *calls.settings;
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B300));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CRTSCTS), static_cast<tcflag_t>(PARENB | CRTSCTS));
    EXPECT_EQ(calls.set_lines, TIOCM_DTR | TIOCM_RTS);
    EXPECT_EQ(clock.total_slept_ms(), 0);  // no modem lines: taken as on
}

TEST_F(SerialSeamTest, line_settings_reach_the_terminal)
{
    struct Case {
        const char* open_string;
        tcflag_t mask;
        tcflag_t expected;
    } cases[] = {
        {"COM3:9600,o,8,1,cs0,ds0", PARENB | PARODD | CMSPAR, PARENB | PARODD},
        {"COM3:9600,s,8,1,cs0,ds0", PARENB | PARODD | CMSPAR, PARENB | CMSPAR},
        {"COM3:9600,m,8,1,cs0,ds0", PARENB | PARODD | CMSPAR, PARENB | PARODD | CMSPAR},
        {"COM3:9600,n,6,2,cs0,ds0", CSIZE | CSTOPB, CS6 | CSTOPB},
        {"COM3:110,n,5,,cs0,ds0", CSIZE | CSTOPB, CS5 | CSTOPB},  // one and a half
        {"COM3:9600,n,8,1,cs0,ds0,dt", HUPCL, 0},
        {"COM3:9600,n,8,1,cs0,ds0", HUPCL, HUPCL},
    };
    for (const Case& c : cases) {
        ChannelTable table(status);
        calls.settings.reset();
        testing::internal::CaptureStderr();
        table.open_port(2, c.open_string, mode_random, 0, 0, 0);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(status.code(), status_ok) << c.open_string;
        ASSERT_TRUE(calls.settings) << c.open_string;
        EXPECT_EQ(calls.settings->c_cflag & c.mask, c.expected) << c.open_string;
    }
}

struct OpenFailure {
    const char* what;
    void (*arrange)(FakeCalls&);
    int32_t expected_status;
    std::vector<std::string> trace;
    const char* explanation = "";
    const char* open_string = logger_string;
};

TEST_F(SerialSeamTest, each_failing_open_step_gives_its_status_and_releases_what_it_took)
{
    const std::vector<std::string> released = {"open", "lock", "exclusive", "clear_exclusive", "unlock", "close"};
    std::vector<OpenFailure> failures = {
        {"missing", [](FakeCalls& c) { c.open_result = -ENOENT; }, status_cannot_open, {"open"}},
        {"no permission",
         [](FakeCalls& c) { c.open_result = -EACCES; },
         status_cannot_open,
         {"open"},
         "Permission denied - add your user to the group that owns the device, usually dialout"},
        {"not a tty", [](FakeCalls& c) { c.terminal = false; }, status_cannot_open, {"open", "close"}},
        {"held", [](FakeCalls& c) { c.lock_result = -EWOULDBLOCK; }, status_cannot_open, {"open", "lock", "close"}},
        {"exclusive refused",
         [](FakeCalls& c) { c.exclusive_result = -EIO; },
         status_cannot_open,
         {"open", "lock", "exclusive", "unlock", "close"}},
        {"query", [](FakeCalls& c) { c.get_attributes_result = -EIO; }, status_query_failed, released},
        {"settings refused", [](FakeCalls& c) { c.set_attributes_result = -EINVAL; }, status_not_allowed, released},
        {"modem lines refused", [](FakeCalls& c) { c.set_modem_result = -EIO; }, status_not_allowed, released},
    };
    // Settings the line cannot take.
    for (const char* open_string :
         {"COM3:12345,n,8,1", "COM3:0,n,8,1", "COM3:9600,n,9,1", "COM3:9600,n,4,1", "COM3:9600,n,8,1.5"})
        failures.push_back({open_string, [](FakeCalls&) {}, status_not_allowed, released, "", open_string});
    for (const OpenFailure& f : failures) {
        calls = FakeCalls{};
        f.arrange(calls);
        open(f.open_string);
        EXPECT_EQ(status.code(), f.expected_status) << f.what;
        EXPECT_FALSE(channels.is_open(2)) << f.what;
        EXPECT_EQ(calls.trace, f.trace) << f.what;
        // Once the device has opened, a failure after it (even EIO) is never a missing port.
        EXPECT_TRUE(f.trace.size() == 1 || channels.port_refusal().kind != PortRefusalKind::missing) << f.what;
        EXPECT_NE(open_errors.find("logger: cannot open COM3 (/nonexistent-io-test-ports/COM3): "), std::string::npos)
            << open_errors;
        EXPECT_NE(open_errors.find(f.explanation), std::string::npos) << open_errors;
    }
}

TEST_F(SerialSeamTest, ports_without_modem_lines_still_open)
{
    for (int absent : {-ENOTTY, -EINVAL}) {
        calls = FakeCalls{};
        calls.set_modem_result = absent;
        open();
        EXPECT_EQ(status.code(), status_ok);
        channels.close(2);
    }
}

TEST_F(SerialSeamTest, close_clears_exclusive_mode_and_the_lock_before_closing)
{
    open();
    calls.trace.clear();
    channels.close(2);
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_EQ(calls.trace, (std::vector<std::string>{"clear_exclusive", "unlock", "close"}));
}

TEST_F(SerialSeamTest, read_of_an_empty_queue_times_out_with_no_byte)
{
    open();
    EXPECT_EQ(get(1), "");
    EXPECT_EQ(status.code(), status_ok);
    ASSERT_EQ(calls.poll_timeouts_ms.size(), 1u);
    EXPECT_GT(calls.poll_timeouts_ms[0], 0);
    EXPECT_LE(calls.poll_timeouts_ms[0], 20);
    EXPECT_EQ(clock.total_slept_ms(), 0);
}

TEST_F(SerialSeamTest, read_retries_interruptions_waits_for_its_byte_and_fails_with_3_on_hang_up)
{
    struct Case {
        const char* what;
        std::deque<ReadStep> reads;
        std::deque<PollStep> polls;
        std::string byte;
        int32_t status;
    } cases[] = {
        {"interrupted read", {{-EINTR, ""}, {1, "7"}}, {}, "7", status_ok},
        {"byte arrives during the wait", {{-EAGAIN, ""}, {1, "Q"}}, {{1, POLLIN}}, "Q", status_ok},
        {"read gives 0", {{0, ""}}, {}, "", status_io_failed},
        {"gone: read gives EIO", {{-EIO, ""}}, {}, "", status_io_failed},
        {"poll reports hang-up", {{-EAGAIN, ""}}, {{1, POLLHUP}}, "", status_io_failed},
        {"poll fails", {{-EAGAIN, ""}}, {{-EBADF, 0}}, "", status_io_failed},
    };
    for (const Case& c : cases) {
        open();
        calls.reads = c.reads;
        calls.polls = c.polls;
        EXPECT_EQ(get(1), c.byte) << c.what;
        EXPECT_EQ(status.code(), c.status) << c.what;
        EXPECT_EQ(channels.device_gone(2), std::string_view(c.what).starts_with("gone")) << c.what;
        channels.close(2);
    }
}

TEST_F(SerialSeamTest, endless_interruptions_with_a_stopped_clock_end_the_read)
{
    open();
    for (int i = 0; i < 5000; ++i)
        calls.polls.push_back({-EINTR, 0});
    calls.reads.assign(5000, {-EAGAIN, ""});
    EXPECT_EQ(get(1), "");
    EXPECT_LT(calls.poll_timeouts_ms.size(), 5000u);
}

TEST_F(SerialSeamTest, write_moves_every_byte_in_order_or_fails_with_3)
{
    struct Case {
        const char* what;
        std::deque<ssize_t> writes;
        std::deque<PollStep> polls;
        std::string wire;
        int32_t status;
    } cases[] = {
        {"short and interrupted writes", {1, -EINTR, 2, -EAGAIN, 1}, {{1, POLLOUT}}, "ABCDEFGH", status_ok},
        {"output never drains", {2, -EAGAIN}, {}, "AB", status_io_failed},
        {"gone: hung up", {-EIO}, {}, "", status_io_failed},
        {"hang-up while waiting", {-EAGAIN}, {{1, POLLHUP | POLLERR}}, "", status_io_failed},
    };
    for (const Case& c : cases) {
        open();
        calls.wire.clear();
        calls.writes = c.writes;
        calls.polls = c.polls;
        channels.put_data(2, "ABCDEFGH");
        EXPECT_EQ(calls.wire, c.wire) << c.what;
        EXPECT_EQ(status.code(), c.status) << c.what;
        EXPECT_EQ(channels.device_gone(2), std::string_view(c.what).starts_with("gone")) << c.what;
        channels.close(2);
    }
}

TEST_F(SerialSeamTest, probe_reads_nothing_and_finds_a_hang_up_or_a_device_failing_as_a_lost_one)
{
    open();
    calls.reads = {{1, "z"}};
    EXPECT_FALSE(channels.probe_device_gone(2));  // a quiet pseudo-terminal: no modem lines
    calls.get_modem_result = -ENODEV;
    EXPECT_TRUE(channels.probe_device_gone(2));
    channels.close(2);
    open();
    calls.get_modem_result = 0;
    calls.polls = {{1, POLLHUP}};
    EXPECT_TRUE(channels.probe_device_gone(2));
    EXPECT_EQ(calls.poll_timeouts_ms, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(calls.reads.size(), 1u);
}

TEST_F(SerialSeamTest, failed_queue_count_gives_0_waiting_and_status_1)
{
    open();
    calls.queued = 5;
    EXPECT_EQ(channels.location(2), 5);
    EXPECT_EQ(status.code(), status_ok);
    calls.queued_result = -EIO;
    EXPECT_EQ(channels.location(2), 0);
    EXPECT_EQ(status.code(), status_not_allowed);
    EXPECT_TRUE(channels.channel(2)->device->at_end());
}

TEST_F(SerialSeamTest, carrier_that_never_comes_fails_the_open_after_its_wait)
{
    calls.get_modem_result = 0;
    calls.modem_lines = TIOCM_DSR;
    open("COM3:9600,n,8,1,cs0,cd50,ds0");
    EXPECT_EQ(status.code(), status_not_allowed);
    EXPECT_FALSE(channels.is_open(2));
    EXPECT_EQ(calls.trace.back(), "close");
    EXPECT_GE(clock.total_slept_ms(), 50);
    EXPECT_LE(clock.total_slept_ms(), 52);

    calls = FakeCalls{};
    calls.get_modem_result = 0;
    calls.modem_lines = TIOCM_CD | TIOCM_DSR;
    open("COM3:9600,n,8,1,cs0,cd50,ds50");
    EXPECT_EQ(status.code(), status_ok);
}

TEST_F(SerialSeamTest, line_check_runs_before_every_read_and_write)
{
    calls.get_modem_result = 0;
    calls.modem_lines = TIOCM_DSR;
    open("COM3:9600,n,8,1,cs0,ds10");
    ASSERT_EQ(status.code(), status_ok);
    calls.modem_lines = 0;
    calls.reads = {{1, "z"}};
    EXPECT_EQ(get(1), "");
    EXPECT_EQ(status.code(), status_io_failed);
    channels.put_data(2, "X");
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_TRUE(calls.wire.empty());
    calls.get_modem_result = -EIO;  // a failed query fails at once
    const int64_t slept_ms = clock.total_slept_ms();
    channels.put_data(2, "X");
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_EQ(clock.total_slept_ms(), slept_ms);
}

// Real pseudo-terminals stand for the module's port.
class PtyPortTest : public ::testing::Test {
protected:
    ErrorStatus status;
    ChannelTable channels{status};
    ScopedTempFolder folder{"io_test"};
    const fs::path& ports = folder.path;
    Pty com3;

    void SetUp() override
    {
        setenv("LOGGER_PORTS", ports.c_str(), 1);
        link(com3, "COM3");
    }
    void TearDown() override
    {
        channels.close_all();
        unsetenv("LOGGER_PORTS");
    }

    void link(const Pty& pty, const std::string& name)
    {
        ASSERT_FALSE(pty.slave.empty());
        fs::create_symlink(pty.slave, ports / name);
    }

    void open(int32_t channel, const std::string& open_string)
    {
        testing::internal::CaptureStderr();
        channels.open_port(channel, open_string, mode_random, 0, 0, 0);
        open_errors = testing::internal::GetCapturedStderr();
    }

    void send(const std::string& bytes)
    {
        ASSERT_EQ(::write(com3.master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    // Waits (up to a second) until the port's queue holds at least count bytes.
    int64_t wait_for_waiting(int32_t channel, int64_t count)
    {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        int64_t waiting = channels.location(channel);
        while (waiting < count && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            waiting = channels.location(channel);
        }
        return waiting;
    }

    std::string get(int32_t channel, size_t count) { return read_channel(channels, channel, count); }

    std::string open_errors;
};

TEST_F(PtyPortTest, printed_request_puts_exactly_three_bytes_on_the_line)
{
    open(2, logger_string);
    ASSERT_EQ(status.code(), status_ok) << open_errors;
    channels.print_line(2, "X");
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_EQ(read_until(com3.master, "\r\n", 1000), "X\r\n");  // and nothing more
}

// How bytes waiting counts a pushed-back byte: ChannelTableTest.location_rule.
TEST_F(PtyPortTest, reply_is_read_byte_by_byte_and_bytes_waiting_counts_the_queue)
{
    open(2, logger_string);
    ASSERT_EQ(status.code(), status_ok) << open_errors;
    send("ABC");
    ASSERT_EQ(wait_for_waiting(2, 3), 3);
    EXPECT_EQ(get(2, 1), "A");
    EXPECT_EQ(channels.location(2), 2);
    EXPECT_EQ(get(2, 1), "B");
    EXPECT_EQ(get(2, 1), "C");
    EXPECT_EQ(get(2, 1), "");  // empty queue: no byte, no failure
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_TRUE(channels.channel(2)->device->at_end());
}

TEST_F(PtyPortTest, held_port_gives_2_until_released)
{
    open(2, logger_string);
    ASSERT_EQ(status.code(), status_ok);
    open(3, logger_string);
    EXPECT_EQ(status.code(), status_cannot_open);
    EXPECT_FALSE(channels.is_open(3));
    EXPECT_NE(open_errors.find("cannot open COM3"), std::string::npos) << open_errors;
    channels.close(2);
    open(3, logger_string);
    EXPECT_EQ(status.code(), status_ok) << open_errors;
}

TEST_F(PtyPortTest, missing_port_and_non_terminal_give_2)
{
    open(2, "COM4:38400,n,8,1,cs0,cd0,ds0,rs");
    EXPECT_EQ(status.code(), status_cannot_open);
    EXPECT_FALSE(channels.is_open(2));
    channels.close(2);
    EXPECT_EQ(status.code(), status_not_allowed);

    const fs::path plain = ports / "plain";
    {
        std::FILE* f = std::fopen(plain.c_str(), "w");
        std::fclose(f);
    }
    fs::create_symlink(plain, ports / "COM5");
    open(2, "COM5:38400,n,8,1,cs0,cd0,ds0,rs");
    EXPECT_EQ(status.code(), status_cannot_open);
    EXPECT_NE(open_errors.find("not a serial port"), std::string::npos) << open_errors;
}

TEST_F(PtyPortTest, probe_sees_the_hang_up_and_the_port_reopens_when_its_link_leads_somewhere_again)
{
    open(2, logger_string);
    ASSERT_EQ(status.code(), status_ok) << open_errors;
    EXPECT_FALSE(channels.probe_device_gone(2));
    com3.hang_up();
    EXPECT_TRUE(channels.probe_device_gone(2));
    channels.close(2);
    fs::remove(ports / "COM3");
    EXPECT_EQ(channels.reopen_port(2), ReopenOutcome::absent);
    Pty again;
    link(again, "COM3");
    EXPECT_EQ(channels.reopen_port(2), ReopenOutcome::opened);
}

TEST_F(PtyPortTest, hang_up_mid_reply_fails_reads_and_writes_without_waiting)
{
    open(2, logger_string);
    ASSERT_EQ(status.code(), status_ok);
    send("12,3");
    ASSERT_EQ(wait_for_waiting(2, 4), 4);
    EXPECT_EQ(get(2, 2), "12");
    com3.hang_up();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get(2, 1), "");
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_EQ(channels.location(2), 0);
    EXPECT_EQ(status.code(), status_not_allowed);
    EXPECT_TRUE(channels.device_gone(2));  // a pty whose other end closed answers EIO
    channels.print_line(2, "X");
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    channels.close(2);
    EXPECT_EQ(status.code(), status_ok);
}

}  // namespace
