// A fresh private folder in the system's temporary folder, for tests on every platform.
#pragma once
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
