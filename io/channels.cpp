// The channel table: number checks, the shared put/get paths with the push-back
// store, the location rule, closing, and the program's one table, which is
// closed (and its files flushed) however the program ends normally.
#include "io/channels.h"

#include <algorithm>
#include <cstdlib>

#include "io/disk_file.h"
#include "io/serial_device.h"

namespace {

constexpr int32_t default_record_length = 128;

bool valid_number(int32_t channel) { return channel >= first_channel && channel <= last_channel; }

}  // namespace

ChannelTable::ChannelTable() = default;

ChannelTable::ChannelTable(ErrorStatus& status) : status_(&status) {}

ChannelTable::~ChannelTable()
{
    // Device records close their own handles when destroyed.
}

void ChannelTable::report(int32_t code) { (status_ != nullptr ? *status_ : error_status()).set(code); }

Channel* ChannelTable::entry(int32_t channel)
{
    return valid_number(channel) ? &channels_[static_cast<size_t>(channel)] : nullptr;
}

const Channel* ChannelTable::channel(int32_t channel) const
{
    return valid_number(channel) ? &channels_[static_cast<size_t>(channel)] : nullptr;
}

bool ChannelTable::is_open(int32_t channel) const
{
    const Channel* c = this->channel(channel);
    return c != nullptr && c->device != nullptr;
}

bool ChannelTable::begin_open(int32_t channel, int32_t mode, uint32_t access, uint32_t lock, int32_t record_length)
{
    open_attempted_ = true;
    Channel* c = entry(channel);
    if (c == nullptr || c->device != nullptr) {
        report(status_not_allowed);
        return false;
    }
    *c = Channel{};
    c->mode = mode;
    c->access = access;
    c->lock = lock;
    c->size = -1;
    const bool has_records = mode == mode_random || mode == mode_input || mode == mode_output;
    c->record_length = has_records ? (record_length > 0 ? record_length : default_record_length) : 0;
    return true;
}

void ChannelTable::open_file(int32_t channel, std::string_view name, int32_t mode, uint32_t access, uint32_t lock,
                             int32_t record_length)
{
    if (!begin_open(channel, mode, access, lock, record_length))
        return;
    Channel& c = *entry(channel);
    int32_t open_status = status_ok;
    c.device = open_disk_file(name, mode, c.access, c.size, open_status);
    if (!c.device)
        c = Channel{};
    report(open_status);
}

NewFileOutcome ChannelTable::create_file(int32_t channel, std::string_view name)
{
    if (!begin_open(channel, mode_binary, access_read_write, lock_none, 0))
        return NewFileOutcome::failed;
    Channel& c = *entry(channel);
    int32_t open_status = status_ok;
    bool name_taken = false;
    c.device = create_new_disk_file(name, open_status, name_taken);
    if (c.device)
        c.size = 0;
    else
        c = Channel{};
    report(open_status);
    if (c.device)
        return NewFileOutcome::created;
    return name_taken ? NewFileOutcome::name_taken : NewFileOutcome::failed;
}

// Opens the port of a channel begin_open has prepared, and remembers an open
// that succeeds; a channel whose port did not open is closed again.
int32_t ChannelTable::attach_port(int32_t channel, std::string_view open_string, const PortPlace& place,
                                  PortRefusal& refusal)
{
    Channel& c = *entry(channel);
    PortOpen port_open{true, std::string(open_string), c.mode, c.access, c.lock, c.record_length, {}, false};
    int32_t open_status = status_ok;
    if (port_opener_) {
        // A port opened this way is a plain byte stream, as the serial device makes it.
        if (c.mode == mode_random) {
            c.mode = mode_binary;
            c.access = access_read_write;
        }
        c.device = port_opener_(open_string, open_status, refusal);
    } else {
        c.device = open_serial_device(open_string, place, c.mode, c.access, c.lock, open_status, refusal,
                                      port_open.whereabouts);
    }
    if (!c.device)
        c = Channel{};
    else if (open_status == status_ok)
        port_opens_[static_cast<size_t>(channel)] = std::move(port_open);
    return open_status;
}

void ChannelTable::open_port(int32_t channel, std::string_view open_string, int32_t mode, uint32_t access,
                             uint32_t lock, int32_t record_length)
{
    port_refusal_ = PortRefusal{};
    if (!begin_open(channel, mode, access, lock, record_length))
        return;
    report(attach_port(channel, open_string, PortPlace{}, port_refusal_));
}

ReopenOutcome ChannelTable::reopen_port(int32_t channel)
{
    Channel* c = entry(channel);
    if (c == nullptr || c->device != nullptr || !port_opens_[static_cast<size_t>(channel)].known)
        return ReopenOutcome::absent;
    // A copy: a successful open replaces the remembered one.
    const PortOpen last = port_opens_[static_cast<size_t>(channel)];
    PortPlace place{{}, !last.reopen_failure_told};
    if (!port_opener_) {
        place.device_path = find_port_again(last.whereabouts);
        if (place.device_path.empty())
            return ReopenOutcome::absent;
    }
    begin_open(channel, last.mode, last.access, last.lock, last.record_length);
    PortRefusal unshown;
    const int32_t open_status = attach_port(channel, last.open_string, place, unshown);
    if (open_status == status_ok && c->device != nullptr)
        return ReopenOutcome::opened;
    if (c->device != nullptr)
        c->device->close();
    *c = Channel{};
    port_opens_[static_cast<size_t>(channel)].reopen_failure_told = true;
    return ReopenOutcome::absent;
}

bool ChannelTable::probe_device_gone(int32_t channel)
{
    Channel* c = entry(channel);
    return c != nullptr && c->device != nullptr && c->device->probe_gone();
}

bool ChannelTable::device_gone(int32_t channel) const
{
    return is_open(channel) && this->channel(channel)->device->gone();
}

void ChannelTable::open_on_device(int32_t channel, std::unique_ptr<ChannelDevice> device, int32_t mode, uint32_t access)
{
    if (!device) {
        open_attempted_ = true;
        report(status_cannot_open);
        return;
    }
    if (!begin_open(channel, mode, access, lock_none, 0))
        return;
    entry(channel)->device = std::move(device);
    report(status_ok);
}

void ChannelTable::put_data(int32_t channel, std::string_view bytes)
{
    Channel* c = entry(channel);
    if (c == nullptr || c->device == nullptr) {
        report(status_not_allowed);
        return;
    }
    report(status_ok);
    c->push_back_count = 0;
    report(c->device->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

void ChannelTable::print_line(int32_t channel, std::string_view text)
{
    if (!text.empty())
        put_data(channel, text);
    put_data(channel, "\r\n");
}

size_t ChannelTable::get_data(int32_t channel, uint8_t* buffer, size_t count)
{
    Channel* c = entry(channel);
    if (c == nullptr || c->device == nullptr) {
        report(status_not_allowed);
        return 0;
    }
    report(status_ok);
    const size_t from_store = std::min<size_t>(count, c->push_back_count);
    std::copy_n(c->push_back.begin(), from_store, buffer);
    std::copy(c->push_back.begin() + from_store, c->push_back.begin() + c->push_back_count, c->push_back.begin());
    c->push_back_count -= static_cast<uint32_t>(from_store);
    if (from_store == count)
        return count;
    size_t from_device = 0;
    report(c->device->read(buffer + from_store, count - from_store, from_device));
    return from_store + std::min(from_device, count - from_store);
}

void ChannelTable::push_back(int32_t channel, const uint8_t* bytes, size_t count)
{
    Channel* c = entry(channel);
    if (c == nullptr || c->device == nullptr) {
        report(status_not_allowed);
        return;
    }
    if (count > push_back_capacity - c->push_back_count) {
        report(status_io_failed);
        return;
    }
    // The new bytes go in front: they are read before the older ones.
    std::copy_backward(c->push_back.begin(), c->push_back.begin() + c->push_back_count,
                       c->push_back.begin() + c->push_back_count + count);
    std::copy_n(bytes, count, c->push_back.begin());
    c->push_back_count += static_cast<uint32_t>(count);
}

int64_t ChannelTable::location(int32_t channel)
{
    Channel* c = entry(channel);
    if (c == nullptr || c->device == nullptr || !c->device->can_tell())
        return 0;
    const int64_t position = c->device->tell();
    if (c->device->tell_reports_status())
        report(position < 0 ? status_not_allowed : status_ok);
    if (position < 0)
        return 0;
    const int64_t unread = position - static_cast<int64_t>(c->push_back_count);
    int64_t t = 0;
    if (c->mode == mode_random)
        t = unread / std::max<int64_t>(c->record_length, 1) + 1;
    else
        t = unread + 1;
    if (t == 0)
        return 0;
    if (c->mode == mode_input || c->mode == mode_output)
        return (t - 1) / 128;
    return t - 1;
}

void ChannelTable::close(int32_t channel)
{
    Channel* c = entry(channel);
    if (c == nullptr || c->device == nullptr) {
        report(status_not_allowed);
        return;
    }
    const int32_t result = c->device->close();
    if (result != status_ok) {
        report(result);
        return;
    }
    *c = Channel{};
    report(status_ok);
}

void ChannelTable::close_all()
{
    if (!open_attempted_)
        return;
    open_attempted_ = false;
    for (Channel& c : channels_) {
        if (c.device != nullptr)
            c.device->close();
        c = Channel{};
    }
}

void ChannelTable::flush(int32_t channel)
{
    Channel* c = entry(channel);
    if (c == nullptr || c->device == nullptr) {
        report(status_not_allowed);
        return;
    }
    report(c->device->flush());
}

void ChannelTable::sync(int32_t channel)
{
    Channel* c = entry(channel);
    if (c == nullptr || c->device == nullptr) {
        report(status_not_allowed);
        return;
    }
    report(c->device->sync());
}

namespace {

ChannelTable* installed_channels = nullptr;

ChannelTable& program_channels();

void close_program_channels() { program_channels().close_all(); }

// The program's own table lives until the process ends. Its close-all is
// registered with atexit once the table exists, so it runs however the program
// ends normally, and every file is flushed by its own close.
ChannelTable& program_channels()
{
    static ChannelTable* const table = [] {
        auto* created = new ChannelTable();
        std::atexit(close_program_channels);
        return created;
    }();
    return *table;
}

}  // namespace

ChannelTable& the_channels() { return installed_channels ? *installed_channels : program_channels(); }

void use_channels(ChannelTable* channels) { installed_channels = channels; }

void open_channel_file(int32_t channel, std::string_view name, int32_t mode, uint32_t access, uint32_t lock,
                       int32_t record_length)
{
    the_channels().open_file(channel, name, mode, access, lock, record_length);
}

NewFileOutcome create_channel_file(int32_t channel, std::string_view name)
{
    return the_channels().create_file(channel, name);
}

void open_channel_port(int32_t channel, std::string_view open_string, int32_t mode, uint32_t access, uint32_t lock,
                       int32_t record_length)
{
    the_channels().open_port(channel, open_string, mode, access, lock, record_length);
}

void put_data(int32_t channel, std::string_view bytes) { the_channels().put_data(channel, bytes); }

void print_line(int32_t channel, std::string_view text) { the_channels().print_line(channel, text); }

int64_t channel_location(int32_t channel) { return the_channels().location(channel); }

void close_channel(int32_t channel) { the_channels().close(channel); }

void close_all_channels() { the_channels().close_all(); }

void flush_channel(int32_t channel) { the_channels().flush(channel); }

void sync_channel(int32_t channel) { the_channels().sync(channel); }

const PortRefusal& last_port_refusal() { return the_channels().port_refusal(); }

bool channel_device_gone(int32_t channel) { return the_channels().device_gone(channel); }

ReopenOutcome reopen_channel_port(int32_t channel) { return the_channels().reopen_port(channel); }

bool probe_channel_device_gone(int32_t channel) { return the_channels().probe_device_gone(channel); }
