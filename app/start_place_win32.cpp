// Where the logger runs from on Windows: Explorer (and other archivers) run a
// program inside a zip from a copy in the temporary folder and delete it later,
// with the data file and the picture.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/start_place.h"
#include "core/program_file.h"

namespace {

constexpr const char* zip_message =
    "logger.exe is running from inside a zip file. Windows runs it from a temporary folder that it "
    "deletes later, together with the data file and the picture the logger writes there.\n\n"
    "Extract the zip first (right-click it, then Extract All), and run logger.exe from the extracted folder.";

// The long form of a path (the temporary folder often comes in short 8.3 form), in UTF-8.
std::string long_path_utf8(const wchar_t* path)
{
    wchar_t long_path[MAX_PATH * 4] = {};
    const DWORD length = GetLongPathNameW(path, long_path, MAX_PATH * 4);
    const wchar_t* chosen = length > 0 && length < MAX_PATH * 4 ? long_path : path;
    char utf8[MAX_PATH * 16] = {};
    if (WideCharToMultiByte(CP_UTF8, 0, chosen, -1, utf8, sizeof utf8, nullptr, nullptr) <= 0)
        return {};
    return utf8;
}

bool runs_from_temporary_folder()
{
    wchar_t program[MAX_PATH * 4] = {};
    wchar_t temporary[MAX_PATH + 2] = {};
    const DWORD program_length = GetModuleFileNameW(nullptr, program, MAX_PATH * 4);
    const DWORD temporary_length = GetTempPathW(MAX_PATH + 2, temporary);
    if (program_length == 0 || program_length >= MAX_PATH * 4 || temporary_length == 0 ||
        temporary_length > MAX_PATH + 1)
        return false;
    return program_lies_inside(long_path_utf8(program), long_path_utf8(temporary));
}

}  // namespace

bool start_place_is_safe()
{
    if (!runs_from_temporary_folder())
        return true;
    std::fprintf(stderr, "logger: %s\n", zip_message);
    MessageBoxA(nullptr, zip_message, program_file_stem().c_str(), MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    return false;
}
