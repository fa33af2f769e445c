// The program's file on Windows, from the module that started the process.
#include <windows.h>

#include <array>
#include <filesystem>

#include "core/program_file.h"

std::string program_file_stem()
{
    std::array<char, MAX_PATH + 1> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return {};
    return std::filesystem::path(std::string(path.data(), length)).stem().string();
}
