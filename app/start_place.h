// Where the logger runs from: a program started from inside a zip runs from a
// temporary copy that the system deletes later, with every file written beside it.
#pragma once
#include <string_view>

// True when the program file's folder is the folder or lies below it. Windows
// paths: either slash separates, letter case does not count.
bool program_lies_inside(std::string_view program_path, std::string_view folder);

// False, after telling the user to extract the zip first, when the program runs
// from inside the system's temporary folder (Windows); true everywhere else.
bool start_place_is_safe();
