// A fresh private folder in the system's temporary folder, for tests on every platform.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

// Makes "<temp>/<prefix>_<random>" and returns it; an empty path if no name could be had.
inline std::filesystem::path make_temp_folder(const std::string& prefix)
{
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        return {};
    std::random_device seed;
    std::mt19937_64 names(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / (prefix + "_" + std::to_string(names() % 1000000000u));
        if (std::filesystem::create_directory(candidate, error))
            return candidate;
    }
    return {};
}

// A fresh private folder, removed with everything in it when the test ends.
struct ScopedTempFolder {
    std::filesystem::path path;
    explicit ScopedTempFolder(const std::string& prefix = "test") : path(make_temp_folder(prefix))
    {
        EXPECT_FALSE(path.empty()) << "cannot make a temporary folder";
    }
    ~ScopedTempFolder() { std::filesystem::remove_all(path); }
    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;
};
