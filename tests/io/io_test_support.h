// Shared set-up of the io tests: a private temporary folder and reading a
// channel's bytes as a string.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "io/channels.h"
#include "support/temp_folder.h"

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
