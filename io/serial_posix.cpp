// The Linux serial port: a tty opened without becoming the controlling
// terminal, held exclusively, set to raw bytes with the open string's line
// settings, and read and written through poll so that no call waits unbounded.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "core/clock.h"
#include "core/com_ports.h"
#include "io/posix_serial_calls.h"
#include "io/serial_device.h"

namespace {

// A read of an empty queue waits at most this long for a first byte and then
// returns none: the port's read time-out. Bytes already waiting come at once.
constexpr int64_t read_timeout_ms = 20;
// A write that cannot move its bytes within this time fails.
constexpr int64_t write_timeout_ms = 1000;
// Passes that move nothing (interrupted calls, spurious wake-ups) allowed per
// read or write, so a stuck clock or a storm of signals cannot loop for ever.
constexpr int max_idle_passes = 1000;

int negative_errno(int result) { return result < 0 ? -errno : result; }

}  // namespace

int PosixSerialCalls::open_path(const char* path, int flags) { return negative_errno(::open(path, flags)); }
int PosixSerialCalls::close_fd(int fd) { return negative_errno(::close(fd)); }

ssize_t PosixSerialCalls::read_bytes(int fd, void* buffer, size_t count)
{
    const ssize_t n = ::read(fd, buffer, count);
    return n < 0 ? -errno : n;
}

ssize_t PosixSerialCalls::write_bytes(int fd, const void* bytes, size_t count)
{
    const ssize_t n = ::write(fd, bytes, count);
    return n < 0 ? -errno : n;
}

int PosixSerialCalls::poll_fd(pollfd* fd_entry, int timeout_ms)
{
    return negative_errno(::poll(fd_entry, 1, timeout_ms));
}
bool PosixSerialCalls::is_terminal(int fd) { return ::isatty(fd) == 1; }
int PosixSerialCalls::lock_exclusive(int fd) { return negative_errno(::flock(fd, LOCK_EX | LOCK_NB)); }
int PosixSerialCalls::unlock(int fd) { return negative_errno(::flock(fd, LOCK_UN)); }
int PosixSerialCalls::set_exclusive(int fd) { return negative_errno(::ioctl(fd, TIOCEXCL)); }
int PosixSerialCalls::clear_exclusive(int fd) { return negative_errno(::ioctl(fd, TIOCNXCL)); }
int PosixSerialCalls::get_attributes(int fd, termios* settings) { return negative_errno(::tcgetattr(fd, settings)); }

int PosixSerialCalls::set_attributes(int fd, const termios* settings)
{
    return negative_errno(::tcsetattr(fd, TCSANOW, settings));
}

int PosixSerialCalls::get_modem_lines(int fd, int* lines) { return negative_errno(::ioctl(fd, TIOCMGET, lines)); }
int PosixSerialCalls::set_modem_lines(int fd, int lines) { return negative_errno(::ioctl(fd, TIOCMBIS, &lines)); }
int PosixSerialCalls::clear_modem_lines(int fd, int lines) { return negative_errno(::ioctl(fd, TIOCMBIC, &lines)); }
int PosixSerialCalls::bytes_queued(int fd, int* count) { return negative_errno(::ioctl(fd, FIONREAD, count)); }

namespace {

PosixSerialCalls system_calls;
PosixSerialCalls* current_calls = &system_calls;

enum class Readiness { ready, timed_out, hung_up, failed };

// Pseudo-terminals and some adapters have no modem lines at all; that is no fault.
bool no_modem_lines(int result) { return result == -ENOTTY || result == -EINVAL; }

class PosixSerialPort final : public SerialPort {
public:
    PosixSerialPort(PosixSerialCalls& calls, int fd, std::string path)
        : SerialPort(std::move(path)), calls_(calls), fd_(fd)
    {
    }
    ~PosixSerialPort() override { close(); }

    int32_t write(const uint8_t* bytes, size_t count) override;
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override;
    int64_t bytes_queued() override;
    LineState line_state(ModemLine line) override;
    void close() override;
    void probe() override;

    int fd() const { return fd_; }
    void mark_locked() { locked_ = true; }
    void mark_exclusive() { exclusive_ = true; }

private:
    Readiness wait_until_ready(short events, int64_t deadline_ms, int& idle_passes);
    // A failed call's error: EIO, ENXIO and ENODEV mean the device went away.
    void note_failure(long negative_error)
    {
        if (negative_error == -EIO || negative_error == -ENXIO || negative_error == -ENODEV)
            mark_gone();
    }

    PosixSerialCalls& calls_;
    int fd_;
    bool locked_ = false;
    bool exclusive_ = false;
};

Readiness PosixSerialPort::wait_until_ready(short events, int64_t deadline_ms, int& idle_passes)
{
    while (idle_passes++ < max_idle_passes) {
        const int64_t remaining_ms = deadline_ms - clock_ms(program_clock());
        if (remaining_ms <= 0)
            return Readiness::timed_out;
        pollfd entry{fd_, events, 0};
        const int result = calls_.poll_fd(&entry, static_cast<int>(std::min<int64_t>(remaining_ms, INT_MAX)));
        if (result == -EINTR)
            continue;
        if (result < 0)
            return Readiness::failed;
        if (result == 0)
            return Readiness::timed_out;
        if (entry.revents & events)
            return Readiness::ready;
        if (entry.revents & (POLLHUP | POLLERR | POLLNVAL))
            return Readiness::hung_up;
    }
    return Readiness::timed_out;
}

int32_t PosixSerialPort::write(const uint8_t* bytes, size_t count)
{
    if (fd_ < 0)
        return status_io_failed;
    const int64_t deadline_ms = clock_ms(program_clock()) + write_timeout_ms;
    int idle_passes = 0;
    size_t sent = 0;
    while (sent < count) {
        const ssize_t n = calls_.write_bytes(fd_, bytes + sent, count - sent);
        if (n > 0) {
            sent += std::min(static_cast<size_t>(n), count - sent);
            continue;
        }
        if (idle_passes >= max_idle_passes)
            return status_io_failed;
        if (n == -EINTR) {
            ++idle_passes;
            continue;
        }
        if (n != 0 && n != -EAGAIN) {
            note_failure(n);
            return status_io_failed;  // EIO after a hang-up, among others
        }
        if (wait_until_ready(POLLOUT, deadline_ms, idle_passes) != Readiness::ready)
            return status_io_failed;
    }
    return status_ok;
}

// The tty is set to wait for one byte (VMIN 1) on a non-blocking descriptor, so
// an empty queue answers EAGAIN and only a hang-up answers 0.
int32_t PosixSerialPort::read(uint8_t* buffer, size_t count, size_t& bytes_read)
{
    bytes_read = 0;
    if (fd_ < 0)
        return status_io_failed;
    if (count == 0)
        return status_ok;
    const int64_t deadline_ms = clock_ms(program_clock()) + read_timeout_ms;
    int idle_passes = 0;
    while (idle_passes < max_idle_passes) {
        const ssize_t n = calls_.read_bytes(fd_, buffer, count);
        if (n > 0) {
            bytes_read = std::min(static_cast<size_t>(n), count);
            return status_ok;
        }
        if (n == 0)
            return status_io_failed;
        if (n == -EINTR) {
            ++idle_passes;
            continue;
        }
        if (n != -EAGAIN) {
            note_failure(n);
            return status_io_failed;
        }
        switch (wait_until_ready(POLLIN, deadline_ms, idle_passes)) {
        case Readiness::ready:
            break;
        case Readiness::timed_out:
            return status_ok;
        case Readiness::hung_up:
        case Readiness::failed:
            return status_io_failed;
        }
    }
    return status_ok;
}

int64_t PosixSerialPort::bytes_queued()
{
    if (fd_ < 0)
        return -1;
    int count = 0;
    const int result = calls_.bytes_queued(fd_, &count);
    note_failure(result);
    if (result < 0 || count < 0)
        return -1;
    return count;
}

LineState PosixSerialPort::line_state(ModemLine line)
{
    if (fd_ < 0)
        return LineState::failed;
    int lines = 0;
    const int result = calls_.get_modem_lines(fd_, &lines);
    if (no_modem_lines(result))
        return LineState::on;
    if (result < 0)
        return LineState::failed;
    const int bit = line == ModemLine::carrier_detect ? TIOCM_CD : TIOCM_DSR;
    return (lines & bit) ? LineState::on : LineState::off;
}

// A tty that was hung up (the adapter pulled out, or a pseudo-terminal whose
// other end closed) reports POLLHUP and fails its ioctls with EIO; neither needs
// a byte to be read.
void PosixSerialPort::probe()
{
    if (fd_ < 0)
        return;
    pollfd entry{fd_, 0, 0};
    const int result = calls_.poll_fd(&entry, 0);
    if (result > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        mark_gone();
        return;
    }
    int lines = 0;
    note_failure(calls_.get_modem_lines(fd_, &lines));
}

// The exclusive mode outlives the descriptor unless cleared, and only what
// this port set is undone: another program's hold on the tty stays.
void PosixSerialPort::close()
{
    if (fd_ < 0)
        return;
    if (exclusive_)
        calls_.clear_exclusive(fd_);
    if (locked_)
        calls_.unlock(fd_);
    calls_.close_fd(fd_);
    fd_ = -1;
}

struct SpeedConstant {
    uint32_t speed_bps;
    speed_t constant;
};

constexpr SpeedConstant speed_constants[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool speed_constant(uint32_t speed_bps, speed_t& constant)
{
    for (const SpeedConstant& entry : speed_constants) {
        if (entry.speed_bps == speed_bps) {
            constant = entry.constant;
            return true;
        }
    }
    return false;
}

bool set_character_size(termios& settings, uint32_t data_bits)
{
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (data_bits < 5 || data_bits > 8)
        return false;
    settings.c_cflag = (settings.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | sizes[data_bits - 5];
    return true;
}

bool set_parity(termios& settings, Parity parity)
{
    settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
#ifdef CMSPAR
    settings.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    switch (parity) {
    case Parity::none:
        return true;
    case Parity::even:
        settings.c_cflag |= PARENB;
        return true;
    case Parity::odd:
        settings.c_cflag |= PARENB | PARODD;
        return true;
#ifdef CMSPAR
    case Parity::space:
        settings.c_cflag |= PARENB | CMSPAR;
        return true;
    case Parity::mark:
        settings.c_cflag |= PARENB | CMSPAR | PARODD;
        return true;
#endif
    default:
        return false;
    }
}

// One and a half stop bits exist only with 5 data bits, where the UART gives
// them for the two-stop-bit setting.
bool set_stop_bits(termios& settings, StopBits stop_bits, uint32_t data_bits)
{
    if (stop_bits == StopBits::one_and_half && data_bits != 5)
        return false;
    if (stop_bits == StopBits::one)
        settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    else
        settings.c_cflag |= CSTOPB;
    return true;
}

// Raw bytes with the options' line settings; false for a setting the line
// cannot take (no speed constant, data bits outside 5 to 8, ...).
bool apply_line_settings(termios& settings, const SerialOptions& options)
{
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    if (options.check_parity)
        settings.c_iflag |= INPCK;
    if (options.cts_time_ms != 0)
        settings.c_cflag |= CRTSCTS;
    else
        settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    if (options.keep_dtr)
        settings.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    speed_t speed = B0;
    if (!speed_constant(options.speed_bps, speed))
        return false;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0)
        return false;
    return set_character_size(settings, options.data_bits) && set_parity(settings, options.parity) &&
           set_stop_bits(settings, options.stop_bits, options.data_bits);
}

int open_flags(uint32_t access)
{
    const int base = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if (access == access_read)
        return base | O_RDONLY;
    if (access == access_write)
        return base | O_WRONLY;
    return base | O_RDWR;
}

void report_open_failure(uint32_t port_number, const std::string& path, const std::string& reason)
{
    std::fprintf(stderr, "logger: cannot open COM%u (%s): %s\n", static_cast<unsigned>(port_number),
                 path.empty() ? "no device" : path.c_str(), reason.c_str());
}

// What the operator is told about an open that failed with this error. Once
// the device has opened, EIO is no longer a missing port but a failing one.
PortRefusalKind refusal_kind_for(int negative_error, bool device_opened)
{
    switch (-negative_error) {
    case EIO:  // a ttyS node without its UART
        return device_opened ? PortRefusalKind::other : PortRefusalKind::missing;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return PortRefusalKind::missing;
    case EACCES:
    case EPERM:
        return PortRefusalKind::no_permission;
    case EBUSY:
    case EWOULDBLOCK:  // the lock another program holds
        return PortRefusalKind::in_use;
    default:
        return PortRefusalKind::other;
    }
}

std::string reason_for(int negative_error)
{
    const int error = -negative_error;
    switch (refusal_kind_for(negative_error, false)) {
    case PortRefusalKind::no_permission:
        return std::string(std::strerror(error)) +
               " - add your user to the group that owns the device, usually dialout";
    case PortRefusalKind::in_use:
        return "the port is in use by another program";
    default:
        return std::strerror(error);
    }
}

// DTR on after every open; RTS off when suppressed, else on for handshaking.
int set_control_lines(PosixSerialCalls& calls, int fd, const SerialOptions& options)
{
    const int rts =
        options.suppress_rts ? calls.clear_modem_lines(fd, TIOCM_RTS) : calls.set_modem_lines(fd, TIOCM_RTS);
    if (rts < 0 && !no_modem_lines(rts))
        return rts;
    const int dtr = calls.set_modem_lines(fd, TIOCM_DTR);
    if (dtr < 0 && !no_modem_lines(dtr))
        return dtr;
    return 0;
}

}  // namespace

PosixSerialCalls& posix_serial_calls() { return *current_calls; }

void use_posix_serial_calls(PosixSerialCalls* calls) { current_calls = calls ? calls : &system_calls; }

std::unique_ptr<SerialPort> open_serial_port(uint32_t port_number, const PortPlace& place, const SerialOptions& options,
                                             uint32_t access, uint32_t /*lock*/, int32_t& status, PortRefusal& refusal)
{
    PosixSerialCalls& calls = posix_serial_calls();
    const std::string path = place.device_path.empty() ? com_port_path(port_number) : place.device_path;
    // Each failure after the open drops the port, which closes the descriptor.
    auto fail = [&](int32_t code, PortRefusalKind kind, const std::string& reason,
                    const std::string& message) -> std::unique_ptr<SerialPort> {
        if (place.report_failure)
            report_open_failure(port_number, path, reason);
        status = code;
        refusal = {kind, message, path};
        return nullptr;
    };
    // A failed system call: its kind, the full reason, and the system's words.
    bool opened = false;
    auto fail_call = [&](int32_t code, int result) {
        return fail(code, refusal_kind_for(result, opened), reason_for(result), std::strerror(-result));
    };
    if (path.empty())
        return fail(status_cannot_open, PortRefusalKind::missing, "no such port", {});
    const int fd = calls.open_path(path.c_str(), open_flags(access));
    if (fd < 0)
        return fail_call(status_cannot_open, fd);
    auto port = std::make_unique<PosixSerialPort>(calls, fd, path);
    opened = true;
    if (!calls.is_terminal(fd))
        return fail(status_cannot_open, PortRefusalKind::other, "not a serial port", "not a serial port");
    // The lock keeps out other programs even where the tty's own exclusive
    // mode does not (it is ignored for root).
    if (const int result = calls.lock_exclusive(fd); result < 0)
        return fail_call(status_cannot_open, result);
    port->mark_locked();
    if (const int result = calls.set_exclusive(fd); result < 0)
        return fail_call(status_cannot_open, result);
    port->mark_exclusive();
    termios settings{};
    if (const int result = calls.get_attributes(fd, &settings); result < 0)
        return fail(status_query_failed, PortRefusalKind::other,
                    std::string("cannot read the line settings: ") + std::strerror(-result), std::strerror(-result));
    if (!apply_line_settings(settings, options))
        return fail(status_not_allowed, PortRefusalKind::settings_refused, "the line settings are not supported", {});
    if (const int result = calls.set_attributes(fd, &settings); result < 0)
        return fail(status_not_allowed, PortRefusalKind::settings_refused,
                    std::string("the line settings were refused: ") + std::strerror(-result), {});
    if (const int result = set_control_lines(calls, fd, options); result < 0)
        return fail(status_not_allowed, PortRefusalKind::other,
                    std::string("cannot set DTR and RTS: ") + std::strerror(-result), std::strerror(-result));
    status = status_ok;
    return port;
}
