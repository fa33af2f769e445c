// The module simulator program: opens a pseudo-terminal (or a given device, or a
// unix socket), links it as COM<n>, and answers requests until SIGINT, SIGTERM or a
// planned hang-up.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "core/clock.h"
#include "tools/modsim_link.h"
#include "tools/modsim_options.h"
#include "tools/modsim_responder.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

constexpr int idle_poll_ms = 1000;
constexpr int hangup_backoff_ms = 20;    // no reader on the line: look again this often
constexpr int write_patience_ms = 1000;  // a reader that takes nothing for this long loses the bytes
constexpr int max_chunks_per_wake = 16;
constexpr int socket_retry_ms = 10;       // how often to try a socket that is not there yet
constexpr int vanish_patience_ms = 1000;  // how long a vanishing line waits for its last reply to be read

// The line being served: the fd we read and write, and for a pty the slave we keep open.
struct Line {
    int fd = -1;
    int slave_fd = -1;
    std::string device_path;
    bool is_socket = false;  // the other end closing it ends the service
};

// Why serving a line stopped.
enum class ServeEnd { stopped, hung_up, vanished, closed };

void close_line(Line& line)
{
    if (line.fd >= 0)
        close(line.fd);
    if (line.slave_fd >= 0)
        close(line.slave_fd);
    line.fd = -1;
    line.slave_fd = -1;
}

// Raw 8N1 at 38400 baud with the receiver on and modem lines ignored: bytes pass
// unchanged both ways, with no echo and no line editing.
void make_raw(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    tcsetattr(fd, TCSANOW, &settings);
}

bool set_nonblocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// A new pseudo-terminal. We keep its slave side open ourselves: the master then
// never sees a hang-up while the logger has the port closed, and the raw settings
// stay in force between the logger's opens.
bool open_pty(Line& line, std::string& error)
{
    line.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[256];
    if (line.fd < 0 || grantpt(line.fd) != 0 || unlockpt(line.fd) != 0 || ptsname_r(line.fd, name, sizeof name) != 0) {
        error = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    line.device_path = name;
    line.slave_fd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.slave_fd < 0) {
        error = line.device_path + ": " + std::strerror(errno);
        return false;
    }
    make_raw(line.slave_fd);
    make_raw(line.fd);
    return set_nonblocking(line.fd);
}

bool open_device(Line& line, const std::string& path, std::string& error)
{
    line.device_path = path;
    line.fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (isatty(line.fd))
        make_raw(line.fd);
    return true;
}

// Sleeps for pause_ms or until a stop signal; false when stopped.
bool pause_unless_stopped(int pause_ms, const sigset_t& wait_mask)
{
    double until_s = program_clock().seconds() + pause_ms / 1000.0;
    while (!stop_requested) {
        double left_ms = std::ceil((until_s - program_clock().seconds()) * 1000.0);
        if (left_ms <= 0.0)
            return true;
        auto wait_ms = static_cast<long>(std::min(left_ms, 1000.0));
        timespec timeout{wait_ms / 1000, (wait_ms % 1000) * 1'000'000L};
        ppoll(nullptr, 0, &timeout, &wait_mask);
    }
    return false;
}

// Connects to a unix socket that another program listens on, trying again until
// it exists and accepts: an emulator attaches its serial device only once its
// back end is connected, so the simulator waits for it rather than the other way
// round. False with an empty error when a stop signal came first.
bool connect_socket(Line& line, const std::string& path, const sigset_t& wait_mask, std::string& error)
{
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        error = path + ": too long for a unix socket path";
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    line.device_path = path;
    line.is_socket = true;
    while (!stop_requested) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = std::string("cannot make a socket: ") + std::strerror(errno);
            return false;
        }
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            line.fd = fd;
            if (set_nonblocking(fd))
                return true;
            error = path + ": " + std::strerror(errno);
            return false;
        }
        int why = errno;
        close(fd);
        if (why != ENOENT && why != ECONNREFUSED && why != EINTR) {
            error = path + ": " + std::strerror(why);
            return false;
        }
        pause_unless_stopped(socket_retry_ms, wait_mask);
    }
    return false;
}

// Before a pseudo-terminal vanishes, lets its reader take the last reply (closing
// the master discards what the other side has not read), for a second at most.
void let_reader_drain(const Line& line, const sigset_t& wait_mask)
{
    constexpr int step_ms = 5;
    for (int waited_ms = 0; waited_ms < vanish_patience_ms; waited_ms += step_ms) {
        if (!pause_unless_stopped(step_ms, wait_mask))
            return;
        int unread = 0;
        if (ioctl(line.slave_fd, FIONREAD, &unread) != 0 || unread == 0)
            return;
    }
}

Moment moment_now()
{
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    return Moment{program_clock().seconds(), int64_t{wall.tv_sec} * 1'000'000 + wall.tv_nsec / 1000};
}

// Writes every byte unless the reader stops taking them for write_patience_ms, or
// at once when patience is 0 (the reader already stalled once). A stop signal ends
// the wait too. False when bytes were dropped.
bool write_all(int fd, const std::string& bytes, int patience_ms, const sigset_t& wait_mask)
{
    size_t sent = 0;
    while (sent < bytes.size() && !stop_requested) {
        ssize_t count = write(fd, bytes.data() + sent, bytes.size() - sent);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "modsim: write failed: %s\n", std::strerror(errno));
            return false;
        }
        pollfd writable{fd, POLLOUT, 0};
        timespec timeout{patience_ms / 1000, (patience_ms % 1000) * 1'000'000L};
        if (ppoll(&writable, 1, &timeout, &wait_mask) <= 0)
            break;
    }
    if (sent < bytes.size()) {
        std::fprintf(stderr, "modsim: nobody reads the line; %zu bytes dropped\n", bytes.size() - sent);
        return false;
    }
    return true;
}

void write_log(FILE* log, const ModsimAction& action)
{
    if (log == nullptr)
        return;
    std::string line = log_line(action) + "\n";
    std::fwrite(line.data(), 1, line.size(), log);
    std::fflush(log);
}

int milliseconds_until(double due_s, double now_s)
{
    if (!std::isfinite(due_s))
        return idle_poll_ms;
    double wait_ms = std::ceil((due_s - now_s) * 1000.0);
    if (!(wait_ms > 0.0))
        return 0;
    return wait_ms > idle_poll_ms ? idle_poll_ms : static_cast<int>(wait_ms);
}

// Reads what is waiting, up to a bound so that a flood of bytes cannot starve the
// replies; false when the line shows nobody on the other side (EIO or end of
// file), so the caller backs off instead of spinning.
bool read_line_bytes(int fd, ModuleResponder& responder)
{
    char buffer[4096];
    for (int chunk = 0; chunk < max_chunks_per_wake; ++chunk) {
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count > 0) {
            responder.receive(std::string_view(buffer, static_cast<size_t>(count)), moment_now());
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        return false;
    }
    return true;
}

// Serves the line until a stop signal, a hang-up, the line's planned vanishing
// (after answering request vanish_at) or, for a socket, the other end closing it.
// Signals are blocked except inside ppoll, so a stop is never missed between the
// check and the wait.
ServeEnd serve(Line& line, ModuleResponder& responder, FILE* log, uint64_t vanish_at, const sigset_t& wait_mask)
{
    double quiet_until_s = 0.0;
    bool reader_stalled = false;
    while (!stop_requested) {
        double now_s = program_clock().seconds();
        bool watch_line = now_s >= quiet_until_s;
        int timeout_ms = milliseconds_until(responder.next_due_s(), now_s);
        if (!watch_line)
            timeout_ms = std::min(timeout_ms, hangup_backoff_ms);

        pollfd readable{line.fd, POLLIN, 0};
        timespec timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1'000'000L};
        int ready = ppoll(&readable, watch_line ? 1 : 0, &timeout, &wait_mask);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "modsim: poll failed: %s\n", std::strerror(errno));
            return ServeEnd::stopped;
        }
        if (ready > 0 && watch_line) {
            bool other_side_there = true;
            if (readable.revents & POLLIN)
                other_side_there = read_line_bytes(line.fd, responder);
            if ((readable.revents & (POLLHUP | POLLERR | POLLNVAL)) || !other_side_there) {
                if (line.is_socket)
                    return ServeEnd::closed;
                quiet_until_s = program_clock().seconds() + hangup_backoff_ms / 1000.0;
            }
        }
        for (const ModsimAction& action : responder.take_due(moment_now())) {
            if (stop_requested)
                return ServeEnd::stopped;
            // Logged before it is sent: whoever has read a reply finds its line in the log.
            write_log(log, action);
            bool sends = action.kind == ModsimAction::Kind::reply || action.kind == ModsimAction::Kind::unasked;
            if (sends && !action.bytes.empty())
                reader_stalled = !write_all(line.fd, action.bytes, reader_stalled ? 0 : write_patience_ms, wait_mask);
            if (action.kind == ModsimAction::Kind::hangup) {
                close_line(line);
                return ServeEnd::hung_up;
            }
            if (action.kind == ModsimAction::Kind::reply && vanish_at != 0 && action.request_number == vanish_at)
                return ServeEnd::vanished;
        }
    }
    return ServeEnd::stopped;
}

void log_line_change(FILE* log, ModsimAction::Kind kind, uint64_t request_number, const std::string& device_path)
{
    ModsimAction change;
    change.kind = kind;
    change.request_number = request_number;
    change.bytes = device_path;
    change.moment = moment_now();
    write_log(log, change);
}

bool serve_new_pty(uint32_t port_number, const std::string& ports_dir, Line& line, ComLink& link, std::string& error)
{
    if (!open_pty(line, error))
        return false;
    if (!claim_com_link(ports_dir, port_number, line.device_path, getpid(), link, error))
        return false;
    std::printf("modsim: COM%u -> %s\n", port_number, line.device_path.c_str());
    std::fflush(stdout);
    return true;
}

// The pseudo-terminal goes away as an unplugged adapter does: its reader gets a
// hang-up and its COM link disappears. After vanish_for_ms (when not 0) a new one
// appears under the same link. False when it does not come back, or cannot.
bool vanish_and_return(const ModsimOptions& options, Line& line, ComLink& link, ModuleResponder& responder, FILE* log,
                       const sigset_t& wait_mask)
{
    let_reader_drain(line, wait_mask);
    release_com_link(link);
    close_line(line);
    log_line_change(log, ModsimAction::Kind::vanish, options.vanish_at, line.device_path);
    if (options.vanish_for_ms == 0 || !pause_unless_stopped(static_cast<int>(options.vanish_for_ms), wait_mask))
        return false;
    std::string error;
    if (!serve_new_pty(options.port_number, options.ports_dir, line, link, error)) {
        std::fprintf(stderr, "modsim: %s\n", error.c_str());
        return false;
    }
    log_line_change(log, ModsimAction::Kind::back, options.vanish_at, line.device_path);
    responder.drop_pending();
    return true;
}

void catch_stop_signals(sigset_t& wait_mask)
{
    struct sigaction stop {};
    stop.sa_handler = request_stop;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    sigprocmask(SIG_BLOCK, &blocked, &wait_mask);
    sigdelset(&wait_mask, SIGINT);
    sigdelset(&wait_mask, SIGTERM);
    sigdelset(&wait_mask, SIGHUP);
}

// Small fixed readings make every sound reply shorter than the 21 bytes the
// logger expects while sampling; that may be what the user wants, so only say so.
void warn_if_fixed_replies_are_short(const ModsimOptions& options)
{
    if (!options.fixed_values)
        return;
    ModsimOptions switch_off = options;
    switch_off.switch_mode = SwitchMode::always_0;
    std::string reply = reply_line(reading_at(switch_off, 0.0));
    if (reply.size() < 21)
        std::fprintf(stderr, "modsim: note: with these readings a reply is %zu bytes, fewer than 21\n", reply.size());
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "modsim: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const char* env_ports_dir = std::getenv("LOGGER_PORTS");
    ModsimParseResult parsed = parse_modsim_options(args, env_ports_dir ? env_ports_dir : "");
    if (!parsed.ok()) {
        std::fprintf(stderr, "modsim: %s\n%s", parsed.error.c_str(), modsim_usage().c_str());
        return 2;
    }
    const ModsimOptions& options = parsed.options;
    if (options.show_help) {
        std::fputs(modsim_usage().c_str(), stdout);
        return 0;
    }

    warn_if_fixed_replies_are_short(options);
    sigset_t wait_mask;
    catch_stop_signals(wait_mask);

    FILE* log = nullptr;
    if (!options.log_path.empty()) {
        log = std::fopen(options.log_path.c_str(), "w");
        if (log == nullptr)
            return fail(options.log_path + ": " + std::strerror(errno));
    }

    Line line;
    ComLink link;
    std::string error;
    if (options.port_number != 0) {
        if (!serve_new_pty(options.port_number, options.ports_dir, line, link, error))
            return fail(error);
    } else if (!options.socket_path.empty()) {
        if (!connect_socket(line, options.socket_path, wait_mask, error))
            return error.empty() ? 0 : fail(error);
        std::printf("modsim: connected to %s\n", line.device_path.c_str());
    } else {
        if (!open_device(line, options.device_path, error))
            return fail(error);
        std::printf("modsim: serving %s\n", line.device_path.c_str());
    }
    std::fflush(stdout);

    ModuleResponder responder(options, program_clock().seconds());
    if (serve(line, responder, log, options.vanish_at, wait_mask) == ServeEnd::vanished &&
        vanish_and_return(options, line, link, responder, log, wait_mask))
        serve(line, responder, log, 0, wait_mask);

    release_com_link(link);
    close_line(line);
    if (log != nullptr)
        std::fclose(log);
    return 0;
}
