// Shared set-up of the io tests: a private temporary folder and reading a
// channel's bytes as a string.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "io/channels.h"

// A fresh folder under /tmp, removed with everything in it when the test ends.
struct TempFolder {
    std::filesystem::path path;
    TempFolder()
    {
        char pattern[] = "/tmp/io_test_XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr) << "cannot make a temporary folder";
        path = pattern;
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

// Up to count bytes of the channel, as get-data delivers them.
inline std::string read_channel(ChannelTable& channels, int32_t channel, size_t count)
{
    std::string bytes(count, '\0');
    bytes.resize(channels.get_data(channel, reinterpret_cast<uint8_t*>(bytes.data()), count));
    return bytes;
}
