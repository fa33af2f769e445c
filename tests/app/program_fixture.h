// A whole logger program in one test: fresh screen, channels, field reader and
// error status on a virtual clock, a headless window, a fake module behind the
// serial channel, and a temporary working folder.
#pragma once
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/error_status.h"
#include "core/program_life.h"
#include "io/channels.h"
#include "screen/graphics.h"
#include "text/field_reader.h"

// The module on the other end of the serial channel: answers each request
// "X\r\n" with whatever reply_for(n) gives for request n (1-based).
class FakeModule final : public ChannelDevice {
public:
    struct Shared {
        std::function<std::string(int32_t request_number)> reply_for;
        std::function<void(int32_t request_number)> on_request;
        int32_t requests = 0;
        std::string written;
        std::deque<uint8_t> incoming;
        bool closed = false;
        bool gone = false;  // the adapter pulled out: writes fail, the device says so
    };

    explicit FakeModule(Shared& shared) : shared_(shared) {}
    bool at_end() override { return shared_.incoming.empty(); }
    int32_t close() override;
    int64_t tell() override { return static_cast<int64_t>(shared_.incoming.size()); }
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override;
    int32_t write(const uint8_t* bytes, size_t count) override;
    bool gone() const override { return shared_.gone; }

private:
    Shared& shared_;
};

// A well-formed reply line for the given readings.
std::string module_reply(int32_t switch_state, int32_t ad1, int32_t ad2, int32_t ad3);

class ProgramFixture {
public:
    ProgramFixture();
    ~ProgramFixture();

    // Keys typed one at a time whenever the program sleeps with an empty key queue.
    void type_keys(const std::vector<uint32_t>& keys);
    void type_line(const std::string& text);  // the text, then Enter
    // Runs the logger's entry procedure.
    int run();

    std::string read_file(const std::string& name) const;
    bool file_exists(const std::string& name) const;
    std::vector<std::string> data_rows(const std::string& name) const;  // split at "\r\n"

    ErrorStatus status;
    ProgramLife life;
    VirtualClock clock;
    Screen screen{status};
    ChannelTable channels{status};
    FieldReader reader{status, screen, channels, clock};
    FakeModule::Shared module;
    std::filesystem::path folder;
    std::vector<std::string> port_open_strings;
    bool port_present = true;
    int32_t absent_opens = 0;                       // this many more opens find no port (a pulled cable)
    PortRefusal port_refusal;                       // why a port that is not present refused
    std::function<void(int64_t delay_ms)> on_wait;  // at every sleep or wait, after a key is fed

private:
    void feed_key();
    std::deque<uint32_t> pending_keys_;
    int64_t idle_sleeps_ = 0;
    std::filesystem::path previous_folder_;
};

// Port COM3, the given run length and mode, on a clock that moves 1 ms per reading.
void start_run(ProgramFixture& program, const std::string& minutes = "1", const std::string& mode = "V");
// ESC arrives with the request of the run's given column (the link test's 50 requests come first).
void press_escape_at_column(ProgramFixture& program, int32_t column);
