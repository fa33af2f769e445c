// The program's file on Linux, from the process's own entry in /proc.
#include <filesystem>
#include <system_error>

#include "core/program_file.h"

std::string program_file_stem()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.stem().string();
}
