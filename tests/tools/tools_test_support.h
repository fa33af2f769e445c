// Shared set-up of the simulator tests: the fixed readings of the module and
// the check of a sound reply.
#pragma once
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/modsim_options.h"

// The fixed readings whose reply line is "X,0,1,512,600,700,1813".
inline ModsimOptions fixed_options()
{
    ModsimOptions options;
    options.fixed_values = true;
    options.values = {512, 600, 700};
    options.switch_mode = SwitchMode::always_1;
    return options;
}

// Checks a sound reply the way the logger judges one: seven fields, marker X,
// checksum = switch + AD1 + AD2 + AD3.
inline void expect_sound_reply(const std::string& bytes)
{
    ASSERT_GE(bytes.size(), 21u) << bytes;
    ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    std::vector<std::string> fields;
    std::stringstream stream(bytes.substr(0, bytes.size() - 2));
    for (std::string field; std::getline(stream, field, ',');)
        fields.push_back(field);
    ASSERT_EQ(fields.size(), 7u) << bytes;
    EXPECT_EQ(fields[0], "X");
    long sum = std::stol(fields[2]) + std::stol(fields[3]) + std::stol(fields[4]) + std::stol(fields[5]);
    EXPECT_EQ(std::stol(fields[6]), sum) << bytes;
}
