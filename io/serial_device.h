// The serial device behind a channel opened on an open string: the open steps,
// the line check and the device record. The port itself is the platform's
// (serial_posix.cpp on Linux), reached through SerialPort.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "io/channels.h"
#include "io/port_whereabouts.h"
#include "io/serial_options.h"

class Clock;

enum class ModemLine { carrier_detect, data_set_ready };
enum class LineState { on, off, failed };

// An open, configured port of the operating system.
class SerialPort {
public:
    explicit SerialPort(std::string device_path) : device_path_(std::move(device_path)) {}
    virtual ~SerialPort() = default;
    // Moves every byte or fails: status 0 or 3.
    virtual int32_t write(const uint8_t* bytes, size_t count) = 0;
    // Bytes already waiting come back at once; an empty queue gives 0 bytes
    // after the port's read time-out. Status 0, or 3 for a failed read.
    virtual int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) = 0;
    // Bytes in the receive queue; -1 when the count cannot be had.
    virtual int64_t bytes_queued() = 0;
    virtual LineState line_state(ModemLine line) = 0;
    virtual void close() = 0;
    // Asks the device, without reading data, whether it is still there, and
    // marks it gone if not (a port whose reads only time out may have been pulled).
    virtual void probe() = 0;
    // True once a call has failed in the way that means the device is no
    // longer there (a USB adapter pulled out, re-enumerated after a sleep).
    bool gone() const { return gone_; }
    // The device that was opened (Linux: a path; Windows: the port's name).
    const std::string& device_path() const { return device_path_; }

protected:
    void mark_gone() { gone_ = true; }

private:
    std::string device_path_;
    bool gone_ = false;
};

// Opens and configures COM port port_number at place (the platform's part of
// the open). Null with the status (1, 2 or 8) and the refusal on failure.
std::unique_ptr<SerialPort> open_serial_port(uint32_t port_number, const PortPlace& place, const SerialOptions& options,
                                             uint32_t access, uint32_t lock, int32_t& status, PortRefusal& refusal);

// The clock in whole milliseconds (clamped, so no clock value overflows).
int64_t clock_ms(Clock& clock);

// Waits until the line is on or more than wait_ms have passed. False when the
// line stayed off or its state could not be read.
bool wait_for_line(SerialPort& port, ModemLine line, uint32_t wait_ms, Clock& clock);
// The check before the open ends and before every read and write: carrier
// detect for the CD time, then data set ready for the DSR time (0: no wait).
bool check_lines(SerialPort& port, const SerialOptions& options, Clock& clock);

class SerialDevice final : public ChannelDevice {
public:
    SerialDevice(std::unique_ptr<SerialPort> port, uint32_t port_number, const SerialOptions& options);
    ~SerialDevice() override;

    bool at_end() override;
    int32_t close() override;
    // The receive-queue count; -1 when it cannot be had (the table sets status 1).
    int64_t tell() override;
    bool tell_reports_status() const override { return true; }
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override;
    int32_t write(const uint8_t* bytes, size_t count) override;
    bool gone() const override { return port_ && port_->gone(); }
    bool probe_gone() override;

    uint32_t port_number() const { return port_number_; }
    const std::string& device_name() const { return device_name_; }
    const SerialOptions& options() const { return options_; }

private:
    std::unique_ptr<SerialPort> port_;
    uint32_t port_number_;
    std::string device_name_;
    SerialOptions options_;
};

// The serial open after the channel checks: reads the open string, turns mode
// random into binary with read/write access, opens the port at place and
// checks its lines. Null with the status in open_status, and why the port
// refused in refusal, on failure; on success whereabouts says where the port
// was found, for finding it again. Waits use the program's clock.
std::unique_ptr<ChannelDevice> open_serial_device(std::string_view open_string, const PortPlace& place, int32_t& mode,
                                                  uint32_t& access, uint32_t lock, int32_t& open_status,
                                                  PortRefusal& refusal, PortWhereabouts& whereabouts);
