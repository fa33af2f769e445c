// Shared set-up of the screen and display tests: a private temporary folder, a file's bytes,
// and clearing a screen's row change marks before the step under test.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "screen/screen.h"
#include "support/temp_folder.h"

// A fresh temporary folder, removed with everything in it when the test ends.
struct TempFolder {
    std::filesystem::path path = make_temp_folder("screen_test");
    TempFolder() { EXPECT_FALSE(path.empty()) << "cannot make a temporary folder"; }
    ~TempFolder() { std::filesystem::remove_all(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

inline std::string file_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Clears every row change mark; true when any was set.
inline bool clear_change_marks(Screen& screen)
{
    RowMarks marks{};
    return screen.take_changed_row_marks(marks);
}
