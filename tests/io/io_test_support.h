// Shared set-up of the io tests (and the text tests' channels): a scripted
// channel device, reading a channel's bytes as a string, and the disk-file fixture.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "io/channels.h"
#include "support/temp_folder.h"

// What a scripted channel device holds and has been asked.
struct FakeLine {
    std::deque<uint8_t> queue;        // bytes waiting
    std::optional<int64_t> position;  // what tell() gives, else the number of bytes waiting
    std::vector<std::string> writes;  // one entry per write
    int reads = 0;
    int empty_reads = 0;
    int closes = 0;
    int32_t read_result = status_ok;  // what the next reads report, bytes moved or not
    int32_t close_result = status_ok;
    size_t largest_request = 0;
};

class FakeDevice final : public ChannelDevice {
public:
    explicit FakeDevice(FakeLine& line) : line_(line) {}
    bool at_end() override { return line_.queue.empty(); }
    int32_t close() override
    {
        ++line_.closes;
        return line_.close_result;
    }
    int64_t tell() override { return line_.position.value_or(static_cast<int64_t>(line_.queue.size())); }
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override
    {
        ++line_.reads;
        line_.largest_request = std::max(line_.largest_request, count);
        bytes_read = 0;
        while (bytes_read < count && !line_.queue.empty()) {
            buffer[bytes_read++] = line_.queue.front();
            line_.queue.pop_front();
        }
        if (bytes_read == 0)
            ++line_.empty_reads;
        return line_.read_result;
    }
    int32_t write(const uint8_t* bytes, size_t count) override
    {
        line_.writes.emplace_back(reinterpret_cast<const char*>(bytes), count);
        return status_ok;
    }

private:
    FakeLine& line_;
};

// Up to count bytes of the channel, as get-data delivers them.
inline std::string read_channel(ChannelTable& channels, int32_t channel, size_t count)
{
    std::string bytes(count, '\0');
    bytes.resize(channels.get_data(channel, reinterpret_cast<uint8_t*>(bytes.data()), count));
    return bytes;
}

// A private folder and a fresh channel table for the disk-file tests.
class DiskFileFixture : public ::testing::Test {
protected:
    ScopedTempFolder temp{"io_test"};  // made first, removed last: the channels close before it goes
    const std::filesystem::path& folder = temp.path;
    ErrorStatus status;
    ChannelTable channels{status};

    void TearDown() override { channels.close_all(); }

    std::string path(const std::string& name) const { return (folder / name).string(); }

    void write_file(const std::string& name, const std::string& contents) const
    {
        std::ofstream(path(name), std::ios::binary) << contents;
    }

    std::string read_file(const std::string& name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream contents;
        contents << in.rdbuf();
        return contents.str();
    }
};
