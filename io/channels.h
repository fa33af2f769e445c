// Numbered channels 1 to 255 over devices (disk files, serial ports), with the
// error status each operation leaves, the 4-byte push-back store and the
// location rule. A test creates its own ChannelTable; the program uses one.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/error_status.h"
#include "io/port_whereabouts.h"

enum : int32_t { mode_binary = 0, mode_random = 1, mode_input = 2, mode_output = 3, mode_append = 4 };
enum : uint32_t { access_default = 0, access_read = 1, access_write = 2, access_read_write = 3 };
enum : uint32_t { lock_none = 0, lock_read = 1, lock_write = 2, lock_read_write = 3 };

constexpr int32_t first_channel = 1;
constexpr int32_t last_channel = 255;
constexpr uint32_t push_back_capacity = 4;

// What a device behind a channel does. Status results use the codes of error_status.h.
class ChannelDevice {
public:
    virtual ~ChannelDevice() = default;
    virtual bool at_end() = 0;
    virtual int32_t close() = 0;
    virtual bool can_seek() const { return false; }
    virtual int32_t seek(int64_t /*position*/) { return status_not_allowed; }
    virtual bool can_tell() const { return true; }
    virtual int64_t tell() = 0;  // -1 when it cannot be had
    // True when a tell leaves the status: 0, or 1 when the position cannot be had.
    virtual bool tell_reports_status() const { return false; }
    virtual int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) = 0;
    virtual int32_t write(const uint8_t* bytes, size_t count) = 0;
    // Hands buffered bytes to the operating system.
    virtual int32_t flush() { return status_ok; }
    // Hands them over and waits until the system has stored them on its disk.
    virtual int32_t sync() { return flush(); }
    // True once the device has said it is gone for good (a serial adapter pulled out).
    virtual bool gone() const { return false; }
    // Asks the device itself, without reading data, whether it is still there; true once it is gone.
    virtual bool probe_gone() { return gone(); }
};

// Why the last port open failed, in the operator's terms; the full reason goes
// to standard error. A port that is not there at all is only "missing".
enum class PortRefusalKind { none, missing, in_use, no_permission, settings_refused, other };
struct PortRefusal {
    PortRefusalKind kind = PortRefusalKind::none;
    std::string system_message;  // for other: the system's own words, in code page 437
    std::string device_path;     // the device behind the COM name where it has its own (Linux)
};

enum class NewFileOutcome { created, name_taken, failed };

// A reopen either opened the port, or found it absent: not there, or not (yet) opening.
enum class ReopenOutcome { opened, absent };

struct Channel {
    int32_t mode = 0;
    int32_t record_length = 0;
    int32_t encoding = 0;
    int64_t size = 0;
    uint32_t access = 0;
    uint32_t lock = 0;
    std::array<uint8_t, push_back_capacity> push_back{};
    uint32_t push_back_count = 0;
    std::unique_ptr<ChannelDevice> device;  // null: closed
};

class ChannelTable {
public:
    // Reports through the program's error status as installed at each operation.
    ChannelTable();
    // Reports through the given status.
    explicit ChannelTable(ErrorStatus& status);
    ~ChannelTable();
    ChannelTable(const ChannelTable&) = delete;
    ChannelTable& operator=(const ChannelTable&) = delete;

    void open_file(int32_t channel, std::string_view name, int32_t mode, uint32_t access, uint32_t lock,
                   int32_t record_length);
    // Opens the channel in mode binary with read/write access on a file it
    // creates; a file of that name that is already there is never opened
    // (status 2, outcome name_taken). Other failures give status 2 too.
    NewFileOutcome create_file(int32_t channel, std::string_view name);
    void open_port(int32_t channel, std::string_view open_string, int32_t mode, uint32_t access, uint32_t lock,
                   int32_t record_length);
    // Opens a channel on a device made elsewhere (a test's fake module).
    void open_on_device(int32_t channel, std::unique_ptr<ChannelDevice> device, int32_t mode, uint32_t access);

    // Replaces the serial device behind open_port (a test's fake module): the
    // opener gets the open string and returns the device, or null with a status
    // and the refusal.
    using PortOpener = std::function<std::unique_ptr<ChannelDevice>(std::string_view open_string, int32_t& status,
                                                                    PortRefusal& refusal)>;
    void set_port_opener(PortOpener opener) { port_opener_ = std::move(opener); }

    void put_data(int32_t channel, std::string_view bytes);
    // The text (skipped when empty), then "\r\n", as two put-data calls.
    void print_line(int32_t channel, std::string_view text);
    size_t get_data(int32_t channel, uint8_t* buffer, size_t count);
    void push_back(int32_t channel, const uint8_t* bytes, size_t count);
    int64_t location(int32_t channel);
    void close(int32_t channel);
    // Closes every open channel if an open was tried since the last close-all.
    void close_all();
    // Hands a disk file's buffered bytes to the operating system.
    void flush(int32_t channel);
    // The same, and waits until they are stored on the disk (before the computer sleeps).
    void sync(int32_t channel);

    // Why the last open_port failed; kind none after one that opened.
    const PortRefusal& port_refusal() const { return port_refusal_; }

    // Opens a closed channel's port again after it went away: finds the port
    // where its last successful open_port found it (the same USB adapter, under
    // whatever name it has now), then opens it there with that open's open
    // string, mode, access and lock. Absent when it is not found or the open
    // fails (right after a replug the device may not be ours to open yet); the
    // error status and the last refusal stay as they were. With a port opener
    // installed, the opener is asked with the remembered open string.
    ReopenOutcome reopen_port(int32_t channel);
    // Asks the channel's device, without reading data, whether it is still
    // there; true (and gone from then on) when it is not. False for a closed channel.
    bool probe_device_gone(int32_t channel);

    bool is_open(int32_t channel) const;
    // True when the channel's device has said it is gone.
    bool device_gone(int32_t channel) const;
    // Null for a number outside 1 to 255.
    const Channel* channel(int32_t channel) const;

private:
    // A channel's last successful port open, kept after the channel closes.
    struct PortOpen {
        bool known = false;
        std::string open_string;
        int32_t mode = 0;
        uint32_t access = 0;
        uint32_t lock = 0;
        int32_t record_length = 0;
        PortWhereabouts whereabouts;
        bool reopen_failure_told = false;  // a run of failed reopens writes to standard error once
    };

    PortOpener port_opener_;
    Channel* entry(int32_t channel);
    bool begin_open(int32_t channel, int32_t mode, uint32_t access, uint32_t lock, int32_t record_length);
    int32_t attach_port(int32_t channel, std::string_view open_string, const PortPlace& place, PortRefusal& refusal);

    void report(int32_t code);

    ErrorStatus* status_ = nullptr;
    std::array<Channel, last_channel + 1> channels_;
    std::array<PortOpen, last_channel + 1> port_opens_;
    bool open_attempted_ = false;
    PortRefusal port_refusal_;
};

ChannelTable& the_channels();
void use_channels(ChannelTable* channels);  // nullptr restores the program's own

// Runtime operations over the program's channel table.
void open_channel_file(int32_t channel, std::string_view name, int32_t mode, uint32_t access, uint32_t lock,
                       int32_t record_length);
NewFileOutcome create_channel_file(int32_t channel, std::string_view name);
void open_channel_port(int32_t channel, std::string_view open_string, int32_t mode, uint32_t access, uint32_t lock,
                       int32_t record_length);
void put_data(int32_t channel, std::string_view bytes);
void print_line(int32_t channel, std::string_view text);
int64_t channel_location(int32_t channel);
void close_channel(int32_t channel);
void close_all_channels();
void flush_channel(int32_t channel);
void sync_channel(int32_t channel);
const PortRefusal& last_port_refusal();
bool channel_device_gone(int32_t channel);
ReopenOutcome reopen_channel_port(int32_t channel);
bool probe_channel_device_gone(int32_t channel);
