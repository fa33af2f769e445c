// The serial device on Windows: with a stand-in for the Win32 calls (failing
// calls, held and lost ports, ports without modem lines), and one exchange with
// the module simulator when LOGGER_TEST_COM_PORT names the port it serves.
#include "io/serial_device.h"
#include "io/win32_serial_calls.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "io_test_support.h"

namespace {

HANDLE const fake_handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x5e1));

struct CreateFileArgs {
    std::string name;
    DWORD desired_access = 0;
    DWORD share_mode = 0;
    void* security_attributes = nullptr;
    DWORD creation_disposition = 0;
    DWORD flags_and_attributes = 0;
    void* template_file = nullptr;
};

// The state a port has before we open it: every member the open sets is the
// opposite of what the tested open strings want, and the members it must
// keep have values no default would give.
DCB stored_state()
{
    DCB state{};
    state.DCBlength = sizeof state;
    state.BaudRate = 1200;
    state.fBinary = 0;
    state.fParity = 1;
    state.fOutxCtsFlow = 1;
    state.fOutxDsrFlow = 1;
    state.fDtrControl = DTR_CONTROL_HANDSHAKE;
    state.fDsrSensitivity = 1;
    state.fTXContinueOnXoff = 1;
    state.fOutX = 1;
    state.fInX = 1;
    state.fErrorChar = 1;
    state.fNull = 1;
    state.fRtsControl = RTS_CONTROL_TOGGLE;
    state.fAbortOnError = 1;
    state.XonLim = 123;
    state.XoffLim = 456;
    state.ByteSize = 5;
    state.Parity = MARKPARITY;
    state.StopBits = TWOSTOPBITS;
    state.XonChar = 'a';
    state.XoffChar = 'b';
    state.ErrorChar = 'c';
    state.EofChar = 'd';
    state.EvtChar = 'e';
    return state;
}

// The Win32 calls as a script. A call named in failures fails with its error;
// every other call succeeds on the port's stored state.
class FakeCalls final : public Win32SerialCalls {
public:
    std::vector<std::string> trace;
    std::map<std::string, DWORD> failures;
    CreateFileArgs created;
    COMMPROP properties{};
    std::pair<DWORD, DWORD> queue_sizes{0, 0};
    COMMTIMEOUTS timeouts{0, 0, 0, 7, 9};  // as stored: all read time-outs zero
    DCB state = stored_state();
    DWORD escape_function = 0;
    DWORD modem_status = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
    DWORD in_queue = 0;
    std::string pending;               // what ReadFile hands out
    std::vector<DWORD> read_counts;    // what each ReadFile asked for
    std::optional<DWORD> write_limit;  // a short write takes only this many
    std::string wire;
    int closes = 0;

    void* create_file(const char* name, unsigned long desired_access, unsigned long share_mode,
                      void* security_attributes, unsigned long creation_disposition, unsigned long flags_and_attributes,
                      void* template_file) override
    {
        created = {
            name,         desired_access, share_mode, security_attributes, creation_disposition, flags_and_attributes,
            template_file};
        return call("CreateFileA") ? fake_handle : INVALID_HANDLE_VALUE;
    }
    int get_comm_properties(void* handle, COMMPROP* out) override
    {
        *out = properties;
        return call("GetCommProperties", handle);
    }
    int setup_comm(void* handle, unsigned long input_bytes, unsigned long output_bytes) override
    {
        queue_sizes = {input_bytes, output_bytes};
        return call("SetupComm", handle);
    }
    int get_comm_timeouts(void* handle, COMMTIMEOUTS* out) override
    {
        *out = timeouts;
        return call("GetCommTimeouts", handle);
    }
    int set_comm_timeouts(void* handle, COMMTIMEOUTS* in) override
    {
        timeouts = *in;
        return call("SetCommTimeouts", handle);
    }
    int get_comm_state(void* handle, DCB* out) override
    {
        *out = state;
        return call("GetCommState", handle);
    }
    int set_comm_state(void* handle, DCB* in) override
    {
        state = *in;
        return call("SetCommState", handle);
    }
    int escape_comm_function(void* handle, unsigned long function) override
    {
        escape_function = function;
        return call("EscapeCommFunction", handle);
    }
    int get_comm_modem_status(void* handle, unsigned long* out) override
    {
        *out = modem_status;
        return call("GetCommModemStatus", handle);
    }
    int clear_comm_error(void* handle, unsigned long* errors, COMSTAT* out) override
    {
        *errors = CE_FRAME;
        *out = COMSTAT{};
        out->cbInQue = in_queue;
        return call("ClearCommError", handle, false);
    }
    int read_file(void* handle, void* buffer, unsigned long count, unsigned long* bytes_read, void*) override
    {
        read_counts.push_back(count);
        *bytes_read = 0;
        if (!call("ReadFile", handle, false))
            return FALSE;
        const size_t n = std::min<size_t>(count, pending.size());
        pending.copy(static_cast<char*>(buffer), n);
        pending.erase(0, n);
        *bytes_read = static_cast<DWORD>(n);
        return TRUE;
    }
    int write_file(void* handle, const void* bytes, unsigned long count, unsigned long* bytes_written, void*) override
    {
        *bytes_written = 0;
        if (!call("WriteFile", handle, false))
            return FALSE;
        *bytes_written = std::min<DWORD>(count, write_limit.value_or(count));
        wire.append(static_cast<const char*>(bytes), *bytes_written);
        return TRUE;
    }
    int close_handle(void* handle) override
    {
        ++closes;
        return call("CloseHandle", handle);
    }
    unsigned long last_error() override { return error_; }

private:
    // Byte operations are many; only the open's calls and the close go into the trace.
    bool call(const char* name, void* handle = fake_handle, bool traced = true)
    {
        EXPECT_EQ(handle, fake_handle) << name;
        if (traced)
            trace.emplace_back(name);
        const auto failure = failures.find(name);
        if (failure == failures.end())
            return true;
        error_ = failure->second;
        return false;
    }

    DWORD error_ = 0;
};

constexpr const char* logger_string = "COM3:38400,n,8,1,cs0,cd0,ds0,rs";

const std::vector<std::string> open_calls = {"CreateFileA",     "GetCommProperties", "SetupComm",
                                             "GetCommTimeouts", "SetCommTimeouts",   "GetCommState",
                                             "SetCommState",    "EscapeCommFunction"};

class Win32SerialTest : public ::testing::Test {
protected:
    FakeCalls calls;
    VirtualClock clock;
    ErrorStatus status;
    ChannelTable channels{status};
    std::string open_errors;

    void SetUp() override
    {
        use_win32_serial_calls(&calls);
        use_program_clock(&clock);
    }
    void TearDown() override
    {
        channels.close_all();
        use_win32_serial_calls(nullptr);
        use_program_clock(nullptr);
    }

    void open(const char* open_string = logger_string, int32_t mode = mode_random, uint32_t access = 0,
              uint32_t lock = 0)
    {
        testing::internal::CaptureStderr();
        channels.open_port(2, open_string, mode, access, lock, 0);
        open_errors = testing::internal::GetCapturedStderr();
    }

    std::string get(size_t count) { return read_channel(channels, 2, count); }
};

TEST_F(Win32SerialTest, logger_open_makes_the_calls_in_order_and_close_only_closes_the_handle)
{
    open();
    ASSERT_EQ(status.code(), status_ok) << open_errors;
    EXPECT_EQ(calls.trace, open_calls);
    EXPECT_EQ(calls.created.security_attributes, nullptr);  // name, access, sharing: the next tests
    EXPECT_EQ(calls.created.creation_disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(calls.created.flags_and_attributes, 0u);  // not overlapped: synchronous reads and writes
    EXPECT_EQ(calls.created.template_file, nullptr);
    EXPECT_EQ(calls.escape_function, static_cast<DWORD>(SETDTR));
    EXPECT_EQ(channels.channel(2)->mode, mode_binary);
    EXPECT_EQ(channels.channel(2)->access, access_read_write);
    EXPECT_TRUE(open_errors.empty()) << open_errors;

    calls.trace.clear();
    channels.close(2);
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_EQ(calls.trace, std::vector<std::string>{"CloseHandle"});
    channels.close_all();
    EXPECT_EQ(calls.closes, 1);
}

TEST_F(Win32SerialTest, open_string_sets_the_listed_dcb_members_and_read_timeouts_and_keeps_the_rest)
{
    struct Case {
        const char* open_string;
        DWORD baud;
        BYTE byte_size, parity, stop_bits;
        unsigned binary, check_parity, cts_flow, dsr_sensitivity, dtr_control, rts_control;
        DWORD read_interval_ms, read_multiplier_ms, read_constant_ms;
    } cases[] = {
        {logger_string, 38400, 8, NOPARITY, ONESTOPBIT, 1, 0, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, MAXDWORD,
         MAXDWORD, 20},
        {"COM1:", 300, 7, EVENPARITY, ONESTOPBIT, 1, 0, 1, 1, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE, 1000, 0, 0},
        {"COM3:110,o,5,,cs0,ds0,dt,pe,lf", 110, 5, ODDPARITY, ONE5STOPBITS, 0, 1, 0, 0, DTR_CONTROL_ENABLE,
         RTS_CONTROL_HANDSHAKE, MAXDWORD, MAXDWORD, 20},
        {"COM3:2400,s,8,2,cs250,ds0,rs", 2400, 8, SPACEPARITY, TWOSTOPBITS, 1, 0, 1, 0, DTR_CONTROL_DISABLE,
         RTS_CONTROL_DISABLE, 250, 0, 0},
        {"COM3:9600,m,6,,cs0,ds0", 9600, 6, MARKPARITY, ONESTOPBIT, 1, 0, 0, 0, DTR_CONTROL_DISABLE,
         RTS_CONTROL_HANDSHAKE, MAXDWORD, MAXDWORD, 20},
    };
    const DCB stored = stored_state();
    for (const Case& c : cases) {
        calls = FakeCalls{};
        open(c.open_string);
        ASSERT_EQ(status.code(), status_ok) << c.open_string << open_errors;
        const DCB& s = calls.state;
        EXPECT_EQ(s.BaudRate, c.baud) << c.open_string;
        EXPECT_EQ(s.ByteSize, c.byte_size) << c.open_string;
        EXPECT_EQ(s.Parity, c.parity) << c.open_string;
        EXPECT_EQ(s.StopBits, c.stop_bits) << c.open_string;
        EXPECT_EQ(s.fBinary, c.binary) << c.open_string;
        EXPECT_EQ(s.fParity, c.check_parity) << c.open_string;
        EXPECT_EQ(s.fOutxCtsFlow, c.cts_flow) << c.open_string;
        EXPECT_EQ(s.fDsrSensitivity, c.dsr_sensitivity) << c.open_string;
        EXPECT_EQ(s.fDtrControl, c.dtr_control) << c.open_string;
        EXPECT_EQ(s.fRtsControl, c.rts_control) << c.open_string;
        EXPECT_EQ(s.fOutxDsrFlow + s.fOutX + s.fInX + s.fNull + s.fAbortOnError, 0) << c.open_string;
        // Members the options do not decide stay as the port had them.
        EXPECT_EQ(s.fTXContinueOnXoff, stored.fTXContinueOnXoff) << c.open_string;
        EXPECT_EQ(s.fErrorChar, stored.fErrorChar) << c.open_string;
        EXPECT_EQ(s.XonLim, stored.XonLim) << c.open_string;
        EXPECT_EQ(s.XoffLim, stored.XoffLim) << c.open_string;
        EXPECT_EQ(std::string({s.XonChar, s.XoffChar, s.ErrorChar, s.EofChar, s.EvtChar}), "abcde") << c.open_string;
        const COMMTIMEOUTS& t = calls.timeouts;
        EXPECT_EQ(t.ReadIntervalTimeout, c.read_interval_ms) << c.open_string;
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, c.read_multiplier_ms) << c.open_string;
        EXPECT_EQ(t.ReadTotalTimeoutConstant, c.read_constant_ms) << c.open_string;
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 7u) << c.open_string;
        EXPECT_EQ(t.WriteTotalTimeoutConstant, 9u) << c.open_string;
        channels.close(2);
    }
}

TEST_F(Win32SerialTest, write_timeouts_are_bounded_only_when_both_are_zero_and_flow_control_members_are_mended)
{
    struct Case {  // stored, then expected: write multiplier and constant, XON, XOFF, their limits
        DWORD multiplier_ms, constant_ms;
        char xon, xoff;
        WORD xon_limit, xoff_limit;
        DWORD expected_multiplier_ms, expected_constant_ms;
        char expected_xon, expected_xoff;
        WORD expected_xon_limit, expected_xoff_limit;
    } cases[] = {
        {0, 0, 0, 0, 2048, 512, 0, 1000, 17, 19, 2048, 512},       // a driver's zeros: both mended
        {0, 5, 'a', 'b', 4096, 4096, 0, 5, 'a', 'b', 4096, 4096},  // as the user set them
        {3, 0, 17, 19, 5000, 4097, 3, 0, 17, 19, 1024, 1024},      // limits beyond the 4096-byte queue
    };
    for (const Case& c : cases) {
        calls = FakeCalls{};
        calls.properties.dwCurrentRxQueue = 4096;
        calls.timeouts.WriteTotalTimeoutMultiplier = c.multiplier_ms;
        calls.timeouts.WriteTotalTimeoutConstant = c.constant_ms;
        calls.state.XonChar = c.xon;
        calls.state.XoffChar = c.xoff;
        calls.state.XonLim = c.xon_limit;
        calls.state.XoffLim = c.xoff_limit;
        open();
        ASSERT_EQ(status.code(), status_ok) << open_errors;
        const COMMTIMEOUTS& t = calls.timeouts;
        const DCB& d = calls.state;
        EXPECT_EQ(std::make_pair(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant),
                  std::make_pair(c.expected_multiplier_ms, c.expected_constant_ms));
        EXPECT_EQ(std::vector<int>({d.XonChar, d.XoffChar, d.XonLim, d.XoffLim}),
                  std::vector<int>({c.expected_xon, c.expected_xoff, c.expected_xon_limit, c.expected_xoff_limit}));
        channels.close(2);
    }
}

TEST_F(Win32SerialTest, queue_sizes_come_from_the_options_else_the_driver_else_16384)
{
    struct Case {
        const char* open_string;
        DWORD current_rx, current_tx, max_rx, max_tx;
        DWORD input_bytes, output_bytes;
    } cases[] = {
        {"COM3:9600,n,8,1,cs0,ds0,rb4096,tb512", 1024, 2048, 8192, 8192, 4096, 512},
        {logger_string, 1024, 2048, 8192, 8192, 1024, 2048},
        {logger_string, 0, 0, 8192, 4096, 8192, 4096},
        {logger_string, 0, 0, 0, 0, 16384, 16384},
    };
    for (const Case& c : cases) {
        calls = FakeCalls{};
        calls.properties.dwCurrentRxQueue = c.current_rx;
        calls.properties.dwCurrentTxQueue = c.current_tx;
        calls.properties.dwMaxRxQueue = c.max_rx;
        calls.properties.dwMaxTxQueue = c.max_tx;
        open(c.open_string);
        EXPECT_EQ(status.code(), status_ok) << c.open_string;
        EXPECT_EQ(calls.queue_sizes, std::make_pair(c.input_bytes, c.output_bytes)) << c.open_string;
        channels.close(2);
    }
}

TEST_F(Win32SerialTest, port_number_access_and_lock_choose_the_name_and_sharing)
{
    struct Case {
        const char* open_string;
        int32_t mode;
        uint32_t access, lock;
        const char* name;
        DWORD desired_access, share_mode;
    } cases[] = {
        {"COM9:", mode_random, access_read, lock_none, "COM9", GENERIC_READ | GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"COM10:", mode_random, 0, 0, "\\\\.\\COM10", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"COM255:", mode_random, 0, 0, "\\\\.\\COM255", GENERIC_READ | GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"SER:", mode_random, 0, 0, "COM1", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"COM3:", mode_binary, access_read, lock_none, "COM3", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"COM3:", mode_binary, access_write, lock_read, "COM3", GENERIC_WRITE, FILE_SHARE_WRITE},
        {"COM3:", mode_binary, access_read_write, lock_write, "COM3", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ},
        {"COM3:", mode_binary, access_default, lock_read_write, "COM3", GENERIC_READ | GENERIC_WRITE, 0},
    };
    for (const Case& c : cases) {
        calls = FakeCalls{};
        open(c.open_string, c.mode, c.access, c.lock);
        EXPECT_EQ(status.code(), status_ok) << c.open_string;
        EXPECT_EQ(calls.created.name, c.name) << c.open_string;
        EXPECT_EQ(calls.created.desired_access, c.desired_access) << c.open_string << " access " << c.access;
        EXPECT_EQ(calls.created.share_mode, c.share_mode) << c.open_string << " lock " << c.lock;
        channels.close(2);
    }
}

TEST_F(Win32SerialTest, each_failing_open_call_gives_its_status_and_closes_the_handle)
{
    struct Case {
        const char* failing_call;
        DWORD error;
        int32_t expected_status;
        PortRefusalKind kind;
        const char* reason = "";
        const char* open_string = logger_string;
    } cases[] = {
        {"CreateFileA", ERROR_FILE_NOT_FOUND, status_cannot_open, PortRefusalKind::missing, "no such port"},
        {"CreateFileA", ERROR_ACCESS_DENIED, status_cannot_open, PortRefusalKind::in_use, "in use by another"},
        {"CreateFileA", ERROR_SHARING_VIOLATION, status_cannot_open, PortRefusalKind::in_use, "in use by another"},
        {"GetCommProperties", ERROR_GEN_FAILURE, status_query_failed, PortRefusalKind::other, "properties"},
        {"SetupComm", ERROR_INVALID_PARAMETER, status_not_allowed, PortRefusalKind::other, "queue sizes"},
        {"GetCommTimeouts", ERROR_GEN_FAILURE, status_query_failed, PortRefusalKind::other, "time-outs"},
        {"SetCommTimeouts", ERROR_INVALID_PARAMETER, status_not_allowed, PortRefusalKind::other, "time-outs"},
        {"GetCommState", ERROR_GEN_FAILURE, status_query_failed, PortRefusalKind::other, "line settings"},
        {"SetCommState", ERROR_INVALID_PARAMETER, status_not_allowed, PortRefusalKind::settings_refused,
         "line settings"},  // a speed it refuses
        {"EscapeCommFunction", ERROR_GEN_FAILURE, status_not_allowed, PortRefusalKind::other, "DTR"},
        {"GetCommModemStatus", ERROR_GEN_FAILURE, status_not_allowed, PortRefusalKind::other, "", "COM3:"},
        {"", 0, status_not_allowed, PortRefusalKind::settings_refused, "not supported",
         "COM3:9600,n,264,1,cs0,ds0"},  // too many data bits for a byte
    };
    for (const Case& c : cases) {
        calls = FakeCalls{};
        if (*c.failing_call)
            calls.failures[c.failing_call] = c.error;
        open(c.open_string);
        EXPECT_EQ(status.code(), c.expected_status) << c.failing_call;
        EXPECT_EQ(channels.port_refusal().kind, c.kind) << c.failing_call << " " << c.error;
        EXPECT_EQ(channels.port_refusal().system_message.empty(), c.kind != PortRefusalKind::other) << c.failing_call;
        EXPECT_FALSE(channels.is_open(2)) << c.failing_call;
        const bool created = c.failing_call != std::string("CreateFileA");
        EXPECT_EQ(calls.closes, created ? 1 : 0) << c.failing_call;
        EXPECT_EQ(calls.trace.back(), created ? "CloseHandle" : "CreateFileA") << c.failing_call;
        if (c.failing_call != std::string("GetCommModemStatus")) {  // the portable line check says nothing
            EXPECT_EQ(open_errors.rfind("logger: cannot open COM3 (COM3): ", 0), 0u) << open_errors;
            EXPECT_NE(open_errors.find(c.reason), std::string::npos) << open_errors;
        }
    }
}

TEST_F(Win32SerialTest, modem_lines_gate_the_open_by_their_bits_and_missing_lines_count_as_on)
{
    struct Case {
        const char* open_string;
        DWORD modem_status;
        DWORD modem_error;  // 0: the call succeeds
        int32_t expected_status;
        int64_t slept_ms;
    } cases[] = {
        {"COM1:", MS_DSR_ON, 0, status_ok, 0},
        {"COM1:", MS_RLSD_ON | MS_CTS_ON, 0, status_not_allowed, 1001},
        {"COM3:9600,n,8,1,cs0,cd50,ds0", MS_DSR_ON, 0, status_not_allowed, 51},
        {"COM3:9600,n,8,1,cs0,cd50,ds0", MS_RLSD_ON, 0, status_ok, 0},
        {"COM1:", 0, ERROR_NOT_SUPPORTED, status_ok, 0},  // a pseudo-terminal under Wine
    };
    for (const Case& c : cases) {
        calls = FakeCalls{};
        calls.modem_status = c.modem_status;
        if (c.modem_error != 0)
            calls.failures["GetCommModemStatus"] = c.modem_error;
        const int64_t slept_before_ms = clock.total_slept_ms();
        open(c.open_string);
        EXPECT_EQ(status.code(), c.expected_status) << c.open_string << " lines " << c.modem_status;
        EXPECT_EQ(clock.total_slept_ms() - slept_before_ms, c.slept_ms) << c.open_string;
        EXPECT_EQ(calls.closes, c.expected_status == status_ok ? 0 : 1) << c.open_string;
        channels.close(2);
    }
}

TEST_F(Win32SerialTest, port_without_modem_lines_opens_and_reads_and_writes)
{
    calls.failures["EscapeCommFunction"] = ERROR_NOT_SUPPORTED;
    calls.failures["GetCommModemStatus"] = ERROR_NOT_SUPPORTED;
    open("COM1:");  // waits for DSR before the open ends and before every read and write
    ASSERT_EQ(status.code(), status_ok) << open_errors;
    EXPECT_TRUE(open_errors.empty()) << open_errors;
    channels.print_line(2, "X");
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_EQ(calls.wire, "X\r\n");
    calls.pending = "7";
    EXPECT_EQ(get(1), "7");
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_EQ(clock.total_slept_ms(), 0);
}

TEST_F(Win32SerialTest, bytes_waiting_is_the_receive_queue_and_a_failed_count_gives_0_with_status_1)
{
    open();
    calls.in_queue = 21;
    EXPECT_EQ(channels.location(2), 21);
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_FALSE(channels.channel(2)->device->at_end());
    calls.failures["ClearCommError"] = ERROR_BAD_COMMAND;  // the module unplugged
    EXPECT_EQ(channels.channel(2)->device->tell(), -1);
    EXPECT_TRUE(channels.device_gone(2));
    EXPECT_EQ(channels.location(2), 0);
    EXPECT_EQ(status.code(), status_not_allowed);
    EXPECT_TRUE(channels.channel(2)->device->at_end());
}

TEST_F(Win32SerialTest, probe_reads_nothing_and_finds_a_lost_device_but_not_missing_modem_lines)
{
    open();
    calls.pending = "z";
    calls.failures["GetCommModemStatus"] = ERROR_NOT_SUPPORTED;
    EXPECT_FALSE(channels.probe_device_gone(2));
    calls.failures["ClearCommError"] = ERROR_NOT_READY;  // a hung-up pseudo-terminal under Wine
    EXPECT_TRUE(channels.probe_device_gone(2));
    EXPECT_TRUE(calls.read_counts.empty());
}

TEST_F(Win32SerialTest, write_is_one_call_that_must_move_every_byte_or_fails_with_3)
{
    struct Case {
        const char* what;
        std::optional<DWORD> write_limit;
        bool fails;
        int32_t expected_status;
    } cases[] = {
        {"whole write", std::nullopt, false, status_ok},
        {"short write", 5, false, status_io_failed},
        {"write time-out of a stalled device", 0, false, status_io_failed},
        {"module unplugged", std::nullopt, true, status_io_failed},
    };
    for (const Case& c : cases) {
        open();
        calls.write_limit = c.write_limit;
        calls.failures.clear();
        if (c.fails)
            calls.failures["WriteFile"] = ERROR_BAD_COMMAND;
        calls.wire.clear();
        channels.put_data(2, "ABCDEFGH");
        EXPECT_EQ(status.code(), c.expected_status) << c.what;
        EXPECT_EQ(channels.device_gone(2), c.fails) << c.what;  // a short write leaves the device there
        EXPECT_EQ(calls.wire, std::string("ABCDEFGH").substr(0, c.fails ? 0 : c.write_limit.value_or(8))) << c.what;
        channels.close(2);
    }
}

TEST_F(Win32SerialTest, read_asks_for_the_count_and_gets_what_was_waiting)
{
    open();
    calls.pending = "ABC";
    EXPECT_EQ(get(2), "AB");
    EXPECT_EQ(get(5), "C");
    EXPECT_EQ(get(1), "");  // an empty queue, or a lost module: no byte, no failure
    EXPECT_EQ(status.code(), status_ok);
    EXPECT_EQ(calls.read_counts, (std::vector<DWORD>{2, 5, 1}));
    calls.failures["ReadFile"] = ERROR_GEN_FAILURE;
    calls.pending = "D";
    EXPECT_EQ(get(1), "");
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_TRUE(channels.device_gone(2));
}

// One request and reply with the module simulator on a real COM port (under
// Wine, a pseudo-terminal mapped as the port), then the module's hang-up: a
// driver script kills the simulator when this test prints its cue.
class LiveModuleTest : public ::testing::Test {
protected:
    ErrorStatus status;
    ChannelTable channels{status};
    Clock& clock = program_clock();

    void TearDown() override { channels.close_all(); }

    double elapsed_ms(double start_s) { return (clock.seconds() - start_s) * 1000.0; }

    std::string get(size_t count) { return read_channel(channels, 2, count); }
};

TEST_F(LiveModuleTest, request_gets_a_whole_reply_and_a_hang_up_fails_without_hanging)
{
    const char* port = std::getenv("LOGGER_TEST_COM_PORT");
    if (port == nullptr || *port == '\0')
        GTEST_SKIP() << "LOGGER_TEST_COM_PORT names no port served by the module simulator";
    const std::string open_string = std::string("COM") + port + ":38400,n,8,1,cs0,cd0,ds0,rs";
    double start_s = clock.seconds();
    channels.open_port(2, open_string, mode_random, 0, 0, 0);
    ASSERT_EQ(status.code(), status_ok);
    std::printf("open: %.2f ms\n", elapsed_ms(start_s));

    constexpr int exchanges = 20;
    std::vector<double> reply_ms;
    for (int i = 0; i < exchanges; ++i) {
        while (channels.location(2) > 0)
            get(1);
        channels.print_line(2, "X");
        ASSERT_EQ(status.code(), status_ok);
        clock.sleep_ms(50);
        start_s = clock.seconds();
        const int64_t waiting = channels.location(2);
        ASSERT_GE(waiting, 21) << "exchange " << i;
        std::string reply;  // byte by byte, as the field reader takes it
        for (int64_t n = 0; n < waiting; ++n)
            reply += get(1);
        reply_ms.push_back(elapsed_ms(start_s));
        EXPECT_EQ(static_cast<int64_t>(reply.size()), waiting);
        EXPECT_EQ(channels.location(2), 0);
        EXPECT_EQ(std::count(reply.begin(), reply.end(), ','), 6) << reply;
        EXPECT_EQ(reply.substr(reply.size() - 2), "\r\n") << reply;
        if (i == 0)
            std::printf("reply: %lld bytes waiting, %s", static_cast<long long>(waiting), reply.c_str());
    }
    std::sort(reply_ms.begin(), reply_ms.end());
    std::printf("count and byte-by-byte read of a reply: median %.3f ms, max %.3f ms\n", reply_ms[exchanges / 2],
                reply_ms.back());
    start_s = clock.seconds();
    EXPECT_EQ(get(1), "");
    std::printf("read of an empty queue: %.2f ms\n", elapsed_ms(start_s));

    std::printf("cue: hang up the module\n");
    std::fflush(stdout);
    start_s = clock.seconds();
    int polls = 1;
    for (; channels.location(2) == 0 && status.code() == status_ok && elapsed_ms(start_s) < 3000; ++polls)
        clock.sleep_ms(5);
    EXPECT_EQ(status.code(), status_not_allowed);
    std::printf("hang-up seen after %.0f ms, %d counts\n", elapsed_ms(start_s), polls);
    EXPECT_TRUE(channels.probe_device_gone(2));

    start_s = clock.seconds();
    EXPECT_EQ(get(1), "");
    EXPECT_EQ(status.code(), status_ok);  // ReadFile succeeds with no byte
    channels.print_line(2, "X");
    EXPECT_EQ(status.code(), status_io_failed);
    EXPECT_EQ(channels.location(2), 0);
    EXPECT_EQ(status.code(), status_not_allowed);
    channels.close(2);
    EXPECT_EQ(status.code(), status_ok);
    const double after_ms = elapsed_ms(start_s);
    std::printf("read, write, count and close after the hang-up: %.2f ms\n", after_ms);
    EXPECT_LT(after_ms, 500.0);
}

}  // namespace
