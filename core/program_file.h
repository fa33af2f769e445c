// The running program's own file, for names shown to the operator. One file per
// platform: program_file_posix.cpp, program_file_win32.cpp.
#pragma once
#include <string>

// The program file's name without folder and extension ("logger"); empty when
// the system does not say.
std::string program_file_stem();
