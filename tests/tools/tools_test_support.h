// Shared set-up of the simulator tests: a private temporary folder and the
// fixed readings whose reply line is "X,0,1,512,600,700,1813".
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/modsim_options.h"

// A fresh folder under /tmp, removed with everything in it when the test ends.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char pattern[] = "/tmp/modsim_test_XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr) << "cannot make a temporary folder";
        path = pattern;
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

inline ModsimOptions fixed_options()
{
    ModsimOptions options;
    options.fixed_values = true;
    options.values = {512, 600, 700};
    options.switch_mode = SwitchMode::always_1;
    return options;
}
