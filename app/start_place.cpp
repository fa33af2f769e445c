// The rule that tells a program run from a temporary copy, apart from the system calls.
#include "app/start_place.h"

#include <string>

namespace {

// Backslashes, ASCII letters in lower case (a UTF-8 path keeps its other bytes),
// no separator at the end.
std::string comparable_path(std::string_view path)
{
    std::string out(path);
    for (char& c : out) {
        if (c == '/')
            c = '\\';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

}  // namespace

bool program_lies_inside(std::string_view program_path, std::string_view folder)
{
    const std::string program = comparable_path(program_path);
    const std::string base = comparable_path(folder);
    const size_t separator = program.rfind('\\');
    if (base.empty() || separator == std::string::npos)
        return false;
    const std::string program_folder = program.substr(0, separator);
    return program_folder == base || program_folder.starts_with(base + '\\');
}
