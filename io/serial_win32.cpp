// The Windows serial port: a COM port opened for synchronous reads and writes,
// its queues, time-outs and line settings set from the open string, DTR raised.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "io/serial_device.h"
#include "io/win32_serial_calls.h"

void* Win32SerialCalls::create_file(const char* name, unsigned long desired_access, unsigned long share_mode,
                                    void* security_attributes, unsigned long creation_disposition,
                                    unsigned long flags_and_attributes, void* template_file)
{
    return ::CreateFileA(name, desired_access, share_mode, static_cast<SECURITY_ATTRIBUTES*>(security_attributes),
                         creation_disposition, flags_and_attributes, template_file);
}

int Win32SerialCalls::get_comm_properties(void* handle, COMMPROP* properties)
{
    return ::GetCommProperties(handle, properties);
}

int Win32SerialCalls::setup_comm(void* handle, unsigned long input_queue_bytes, unsigned long output_queue_bytes)
{
    return ::SetupComm(handle, input_queue_bytes, output_queue_bytes);
}

int Win32SerialCalls::get_comm_timeouts(void* handle, COMMTIMEOUTS* timeouts)
{
    return ::GetCommTimeouts(handle, timeouts);
}

int Win32SerialCalls::set_comm_timeouts(void* handle, COMMTIMEOUTS* timeouts)
{
    return ::SetCommTimeouts(handle, timeouts);
}

int Win32SerialCalls::get_comm_state(void* handle, DCB* state) { return ::GetCommState(handle, state); }
int Win32SerialCalls::set_comm_state(void* handle, DCB* state) { return ::SetCommState(handle, state); }

int Win32SerialCalls::escape_comm_function(void* handle, unsigned long function)
{
    return ::EscapeCommFunction(handle, function);
}

int Win32SerialCalls::get_comm_modem_status(void* handle, unsigned long* modem_status)
{
    return ::GetCommModemStatus(handle, modem_status);
}

int Win32SerialCalls::clear_comm_error(void* handle, unsigned long* errors, COMSTAT* status)
{
    return ::ClearCommError(handle, errors, status);
}

int Win32SerialCalls::read_file(void* handle, void* buffer, unsigned long count, unsigned long* bytes_read,
                                void* overlapped)
{
    return ::ReadFile(handle, buffer, count, bytes_read, static_cast<OVERLAPPED*>(overlapped));
}

int Win32SerialCalls::write_file(void* handle, const void* bytes, unsigned long count, unsigned long* bytes_written,
                                 void* overlapped)
{
    return ::WriteFile(handle, bytes, count, bytes_written, static_cast<OVERLAPPED*>(overlapped));
}

int Win32SerialCalls::close_handle(void* handle) { return ::CloseHandle(handle); }
unsigned long Win32SerialCalls::last_error() { return ::GetLastError(); }

namespace {

Win32SerialCalls system_calls;
Win32SerialCalls* current_calls = &system_calls;

// Queue size when neither the open string nor the driver names one.
constexpr DWORD default_queue_bytes = 16384;
// The read time-out of a port opened with CTS time 0: bytes already waiting
// come back at once, an empty queue gives no byte after this long.
constexpr DWORD empty_queue_read_ms = 20;
// The write time-out of a port whose stored write time-outs are both zero.
// The request takes under a millisecond on the line; a second only runs out
// when the device has stopped taking bytes.
constexpr DWORD stalled_write_ms = 1000;
// The software flow-control characters a driver accepts when the stored ones
// are equal; flow control stays off, so they are never sent.
constexpr char xon_character = 17;
constexpr char xoff_character = 19;

// A port on a pseudo-terminal (Wine) has no modem lines: the line calls answer
// ERROR_NOT_SUPPORTED. That is no fault of the port.
bool no_modem_lines(DWORD error) { return error == ERROR_NOT_SUPPORTED; }

class Win32SerialPort final : public SerialPort {
public:
    Win32SerialPort(Win32SerialCalls& calls, HANDLE handle, std::string name)
        : SerialPort(std::move(name)), calls_(calls), handle_(handle)
    {
    }
    ~Win32SerialPort() override { close(); }

    int32_t write(const uint8_t* bytes, size_t count) override;
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override;
    int64_t bytes_queued() override;
    LineState line_state(ModemLine line) override;
    void close() override;
    void probe() override;

private:
    // After a failed call: these errors mean the device went away (a USB
    // adapter pulled out or re-enumerated, whose handle now leads nowhere; under
    // Wine, a pseudo-terminal that hung up answers ERROR_NOT_READY).
    void note_failure()
    {
        switch (calls_.last_error()) {
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_GEN_FAILURE:
        case ERROR_OPERATION_ABORTED:
        case ERROR_ACCESS_DENIED:
            mark_gone();
            break;
        default:
            break;
        }
    }

    Win32SerialCalls& calls_;
    HANDLE handle_;  // null once closed
};

// One WriteFile of the whole count; a lost device fails it (error 21), and a
// stalled one runs out its write time-out and moves fewer bytes.
int32_t Win32SerialPort::write(const uint8_t* bytes, size_t count)
{
    if (handle_ == nullptr || count > MAXDWORD)
        return status_io_failed;
    if (count == 0)
        return status_ok;
    DWORD written = 0;
    if (!calls_.write_file(handle_, bytes, static_cast<DWORD>(count), &written, nullptr)) {
        note_failure();
        return status_io_failed;
    }
    if (written != count)
        return status_io_failed;
    return status_ok;
}

// One ReadFile; how long an empty queue makes it wait is the port's read time-out.
int32_t Win32SerialPort::read(uint8_t* buffer, size_t count, size_t& bytes_read)
{
    bytes_read = 0;
    if (handle_ == nullptr)
        return status_io_failed;
    if (count == 0)
        return status_ok;
    const DWORD asked = static_cast<DWORD>(std::min<size_t>(count, MAXDWORD));
    DWORD got = 0;
    if (!calls_.read_file(handle_, buffer, asked, &got, nullptr)) {
        note_failure();
        return status_io_failed;
    }
    bytes_read = std::min<size_t>(got, asked);
    return status_ok;
}

// cbInQue of ClearCommError; the error flags it also reports (and clears) do
// not matter here. A lost device fails the call.
int64_t Win32SerialPort::bytes_queued()
{
    if (handle_ == nullptr)
        return -1;
    DWORD errors = 0;
    COMSTAT comm_status{};
    if (!calls_.clear_comm_error(handle_, &errors, &comm_status)) {
        note_failure();
        return -1;
    }
    return comm_status.cbInQue;
}

LineState Win32SerialPort::line_state(ModemLine line)
{
    if (handle_ == nullptr)
        return LineState::failed;
    DWORD modem_status = 0;
    if (!calls_.get_comm_modem_status(handle_, &modem_status))
        return no_modem_lines(calls_.last_error()) ? LineState::on : LineState::failed;
    const DWORD bit = line == ModemLine::carrier_detect ? MS_RLSD_ON : MS_DSR_ON;
    return (modem_status & bit) ? LineState::on : LineState::off;
}

// Both calls fail on a handle whose device went away; neither takes a byte.
// A port without modem lines fails the second with an error that is no loss.
void Win32SerialPort::probe()
{
    if (handle_ == nullptr)
        return;
    DWORD errors = 0;
    COMSTAT comm_status{};
    if (!calls_.clear_comm_error(handle_, &errors, &comm_status)) {
        note_failure();
        return;
    }
    DWORD modem_status = 0;
    if (!calls_.get_comm_modem_status(handle_, &modem_status))
        note_failure();
}

// The queues are not purged and no line is changed first.
void Win32SerialPort::close()
{
    if (handle_ == nullptr)
        return;
    calls_.close_handle(handle_);
    handle_ = nullptr;
}

// "COM3" for ports 1 to 9; from 10 on only the device namespace finds the port: "\\.\COM10".
std::string system_port_name(uint32_t port_number)
{
    const std::string name = "COM" + std::to_string(port_number);
    return port_number >= 10 ? "\\\\.\\" + name : name;
}

DWORD desired_access(uint32_t access)
{
    if (access == access_read)
        return GENERIC_READ;
    if (access == access_write)
        return GENERIC_WRITE;
    return GENERIC_READ | GENERIC_WRITE;
}

// What other openers may do with the port while we hold it.
DWORD share_mode(uint32_t lock)
{
    switch (lock) {
    case lock_read:
        return FILE_SHARE_WRITE;
    case lock_write:
        return FILE_SHARE_READ;
    case lock_read_write:
        return 0;
    default:
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
}

DWORD queue_bytes(uint32_t option_bytes, DWORD current_bytes, DWORD max_bytes)
{
    if (option_bytes != 0)
        return option_bytes;
    if (current_bytes != 0)
        return current_bytes;
    if (max_bytes != 0)
        return max_bytes;
    return default_queue_bytes;
}

// With a CTS time the read interval is that time. Without one the port's own
// read time-outs would stay, and on Windows they are often all zero: a read of
// an empty queue then waits for ever. So a CTS time of 0 gets "return what is
// waiting at once, else give up after a short wait".
void set_read_timeouts(COMMTIMEOUTS& timeouts, uint32_t cts_time_ms)
{
    if (cts_time_ms != 0) {
        timeouts.ReadIntervalTimeout = cts_time_ms;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
    } else {
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = empty_queue_read_ms;
    }
}

// Write time-outs of zero make WriteFile wait until the driver takes the
// bytes, for ever on a stalled USB device; the program would then never see
// ESC or save its picture. Time-outs a user set stay as they are.
void bound_write_timeouts(COMMTIMEOUTS& timeouts)
{
    if (timeouts.WriteTotalTimeoutMultiplier == 0 && timeouts.WriteTotalTimeoutConstant == 0)
        timeouts.WriteTotalTimeoutConstant = stalled_write_ms;
}

// Some drivers report settings that their own SetCommState refuses with
// ERROR_INVALID_PARAMETER: equal XON and XOFF characters, and limits beyond
// the receive queue.
void mend_flow_control_members(DCB& state, DWORD input_queue_bytes)
{
    if (state.XonChar == state.XoffChar) {
        state.XonChar = xon_character;
        state.XoffChar = xoff_character;
    }
    // A quarter of the queue each, so that even their sum lies within it.
    const DWORD limit = std::min<DWORD>(input_queue_bytes, 0xFFFF);
    if (state.XonLim > limit)
        state.XonLim = static_cast<WORD>(limit / 4);
    if (state.XoffLim > limit)
        state.XoffLim = static_cast<WORD>(limit / 4);
}

BYTE parity_code(Parity parity)
{
    switch (parity) {
    case Parity::even:
        return EVENPARITY;
    case Parity::odd:
        return ODDPARITY;
    case Parity::space:
        return SPACEPARITY;
    case Parity::mark:
        return MARKPARITY;
    default:
        return NOPARITY;
    }
}

BYTE stop_bits_code(StopBits stop_bits)
{
    switch (stop_bits) {
    case StopBits::one_and_half:
        return ONE5STOPBITS;
    case StopBits::two:
        return TWOSTOPBITS;
    default:
        return ONESTOPBIT;
    }
}

// Sets the members the options decide; every other member keeps the port's
// value. False for data bits that do not fit the DCB's byte.
bool apply_line_settings(DCB& state, const SerialOptions& options)
{
    if (options.data_bits > 255)
        return false;
    state.BaudRate = options.speed_bps;
    state.fBinary = options.add_line_feed ? 0 : 1;
    state.fParity = options.check_parity ? 1 : 0;
    state.fOutxCtsFlow = options.cts_time_ms != 0 ? 1 : 0;
    state.fOutxDsrFlow = 0;
    state.fDtrControl = options.keep_dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    state.fDsrSensitivity = options.dsr_time_ms != 0 ? 1 : 0;
    state.fOutX = 0;
    state.fInX = 0;
    state.fNull = 0;
    state.fAbortOnError = 0;
    state.fRtsControl = options.suppress_rts ? RTS_CONTROL_DISABLE : RTS_CONTROL_HANDSHAKE;
    state.ByteSize = static_cast<BYTE>(options.data_bits);
    state.Parity = parity_code(options.parity);
    state.StopBits = stop_bits_code(options.stop_bits);
    return true;
}

std::string system_message(DWORD error)
{
    char text[256] = {};
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                    sizeof text, nullptr);
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length == 0)
        return "system error " + std::to_string(error);
    return std::string(text, length);
}

// The system's message in code page 437, the screen's; a character it lacks becomes "?".
std::string screen_text(const std::string& ansi)
{
    if (ansi.empty())
        return {};
    std::wstring wide(ansi.size(), L'\0');
    const int wide_length = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                                                  static_cast<int>(wide.size()));
    std::string text(ansi.size() * 2, '\0');
    const int length = ::WideCharToMultiByte(437, 0, wide.data(), wide_length, text.data(),
                                             static_cast<int>(text.size()), "?", nullptr);
    if (wide_length <= 0 || length <= 0)
        return ansi;
    text.resize(static_cast<size_t>(length));
    return text;
}

// What the operator is told about a CreateFileA that failed with this error.
PortRefusalKind refusal_kind_for(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return PortRefusalKind::missing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortRefusalKind::in_use;
    default:
        return PortRefusalKind::other;
    }
}

std::string reason_for(DWORD error)
{
    switch (refusal_kind_for(error)) {
    case PortRefusalKind::in_use:
        return "the port is in use by another program";
    case PortRefusalKind::missing:
        if (error == ERROR_FILE_NOT_FOUND)
            return "no such port";
        [[fallthrough]];
    default:
        return system_message(error);
    }
}

void report_open_failure(uint32_t port_number, const std::string& name, const std::string& reason)
{
    std::fprintf(stderr, "logger: cannot open COM%u (%s): %s\n", static_cast<unsigned>(port_number), name.c_str(),
                 reason.c_str());
}

}  // namespace

Win32SerialCalls& win32_serial_calls() { return *current_calls; }

void use_win32_serial_calls(Win32SerialCalls* calls) { current_calls = calls ? calls : &system_calls; }

std::unique_ptr<SerialPort> open_serial_port(uint32_t port_number, const PortPlace& place, const SerialOptions& options,
                                             uint32_t access, uint32_t lock, int32_t& status, PortRefusal& refusal)
{
    Win32SerialCalls& calls = win32_serial_calls();
    const std::string name = place.device_path.empty() ? system_port_name(port_number) : place.device_path;
    // Each failure after CreateFileA drops the port, which closes its handle.
    auto fail = [&](int32_t code, PortRefusalKind kind, const std::string& reason,
                    DWORD error) -> std::unique_ptr<SerialPort> {
        if (place.report_failure)
            report_open_failure(port_number, name, reason);
        status = code;
        refusal = {kind, kind == PortRefusalKind::other ? screen_text(system_message(error)) : std::string(), {}};
        return nullptr;
    };
    // A call that failed after the port opened: its reason with what was being done.
    auto fail_step = [&](int32_t code, PortRefusalKind kind, const char* what) {
        const DWORD error = calls.last_error();
        return fail(code, kind, std::string(what) + reason_for(error), error);
    };

    HANDLE handle =
        calls.create_file(name.c_str(), desired_access(access), share_mode(lock), nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        const DWORD error = calls.last_error();
        return fail(status_cannot_open, refusal_kind_for(error), reason_for(error), error);
    }
    auto port = std::make_unique<Win32SerialPort>(calls, handle, name);

    COMMPROP properties{};
    if (!calls.get_comm_properties(handle, &properties))
        return fail_step(status_query_failed, PortRefusalKind::other, "cannot read the port's properties: ");
    const DWORD input_bytes =
        queue_bytes(options.receive_buffer_bytes, properties.dwCurrentRxQueue, properties.dwMaxRxQueue);
    const DWORD output_bytes =
        queue_bytes(options.transmit_buffer_bytes, properties.dwCurrentTxQueue, properties.dwMaxTxQueue);
    if (!calls.setup_comm(handle, input_bytes, output_bytes))
        return fail_step(status_not_allowed, PortRefusalKind::other, "the queue sizes were refused: ");

    COMMTIMEOUTS timeouts{};
    if (!calls.get_comm_timeouts(handle, &timeouts))
        return fail_step(status_query_failed, PortRefusalKind::other, "cannot read the time-outs: ");
    set_read_timeouts(timeouts, options.cts_time_ms);
    bound_write_timeouts(timeouts);
    if (!calls.set_comm_timeouts(handle, &timeouts))
        return fail_step(status_not_allowed, PortRefusalKind::other, "the time-outs were refused: ");

    DCB state{};
    state.DCBlength = sizeof state;
    if (!calls.get_comm_state(handle, &state))
        return fail_step(status_query_failed, PortRefusalKind::other, "cannot read the line settings: ");
    if (!apply_line_settings(state, options))
        return fail(status_not_allowed, PortRefusalKind::settings_refused, "the line settings are not supported",
                    ERROR_SUCCESS);
    mend_flow_control_members(state, input_bytes);
    if (!calls.set_comm_state(handle, &state))
        return fail_step(status_not_allowed, PortRefusalKind::settings_refused, "the line settings were refused: ");

    // DTR on after every open, whatever fDtrControl says.
    if (!calls.escape_comm_function(handle, SETDTR)) {
        const DWORD error = calls.last_error();
        if (!no_modem_lines(error))
            return fail(status_not_allowed, PortRefusalKind::other, "cannot set DTR: " + reason_for(error), error);
    }
    status = status_ok;
    return port;
}
