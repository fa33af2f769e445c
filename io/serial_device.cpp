// The serial device: reads the open string, has the platform open the port,
// checks the modem lines and serves the channel's byte operations.
#include "io/serial_device.h"

#include <cmath>

#include "core/clock.h"

int64_t clock_ms(Clock& clock)
{
    const double ms = std::floor(clock.seconds() * 1000.0);
    if (!(ms > -9.0e15))
        return -9'000'000'000'000'000;
    if (ms > 9.0e15)
        return 9'000'000'000'000'000;
    return static_cast<int64_t>(ms);
}

bool wait_for_line(SerialPort& port, ModemLine line, uint32_t wait_ms, Clock& clock)
{
    const int64_t start_ms = clock_ms(clock);
    while (true) {
        const LineState state = port.line_state(line);
        if (state == LineState::failed)
            return false;
        if (state == LineState::on)
            return true;
        if (clock_ms(clock) - start_ms > static_cast<int64_t>(wait_ms))
            return false;
        // A short pause between polls keeps the wait from taking a whole core.
        clock.sleep_ms(1);
    }
}

bool check_lines(SerialPort& port, const SerialOptions& options, Clock& clock)
{
    if (options.cd_time_ms != 0 && !wait_for_line(port, ModemLine::carrier_detect, options.cd_time_ms, clock))
        return false;
    if (options.dsr_time_ms != 0 && !wait_for_line(port, ModemLine::data_set_ready, options.dsr_time_ms, clock))
        return false;
    return true;
}

SerialDevice::SerialDevice(std::unique_ptr<SerialPort> port, uint32_t port_number, const SerialOptions& options)
    : port_(std::move(port)), port_number_(port_number), device_name_(serial_device_name(port_number)),
      options_(options)
{
}

SerialDevice::~SerialDevice()
{
    if (port_)
        port_->close();
}

bool SerialDevice::at_end() { return !port_ || port_->bytes_queued() <= 0; }

int32_t SerialDevice::close()
{
    if (port_)
        port_->close();
    port_.reset();
    return status_ok;
}

int64_t SerialDevice::tell()
{
    const int64_t queued = port_ ? port_->bytes_queued() : -1;
    return queued < 0 ? -1 : queued;
}

bool SerialDevice::probe_gone()
{
    if (port_)
        port_->probe();
    return gone();
}

int32_t SerialDevice::read(uint8_t* buffer, size_t count, size_t& bytes_read)
{
    bytes_read = 0;
    if (!port_ || !check_lines(*port_, options_, program_clock()))
        return status_io_failed;
    return port_->read(buffer, count, bytes_read);
}

int32_t SerialDevice::write(const uint8_t* bytes, size_t count)
{
    if (!port_ || !check_lines(*port_, options_, program_clock()))
        return status_io_failed;
    return port_->write(bytes, count);
}

std::unique_ptr<ChannelDevice> open_serial_device(std::string_view open_string, const PortPlace& place, int32_t& mode,
                                                  uint32_t& access, uint32_t lock, int32_t& open_status,
                                                  PortRefusal& refusal, PortWhereabouts& whereabouts)
{
    uint32_t port_number = 0;
    SerialOptions options;
    const bool parsed = parse_open_string(open_string, port_number, options);
    if (mode == mode_random) {
        mode = mode_binary;
        access = access_read_write;
    }
    if (!parsed) {
        open_status = status_not_allowed;
        return nullptr;
    }
    if (options.interrupt_number != 0) {
        open_status = status_not_allowed;
        return nullptr;
    }
    std::unique_ptr<SerialPort> port =
        open_serial_port(port_number, place, options, access, lock, open_status, refusal);
    if (!port)
        return nullptr;
    if (!check_lines(*port, options, program_clock())) {
        port->close();
        open_status = status_not_allowed;
        refusal = {PortRefusalKind::other, "the device's CD or DSR line stayed off", {}};
        return nullptr;
    }
    open_status = status_ok;
    whereabouts = port_whereabouts(port_number, port->device_path());
    return std::make_unique<SerialDevice>(std::move(port), port_number, options);
}
