// COM port numbers to device paths: the folder of links named by LOGGER_PORTS
// and the fixed table used without it.
#include "core/com_ports.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(ComPorts, fixed_table_and_ports_folder_name_numbers_1_to_255_only)
{
    struct Case {
        uint32_t port;
        const char* path;
    } cases[] = {
        {1, "/dev/ttyS0"},    {4, "/dev/ttyS3"},     {5, "/dev/ttyUSB0"},  {8, "/dev/ttyUSB3"},
        {9, "/dev/ttyACM0"},  {10, "/dev/ttyACM1"},  {11, "/dev/ttyUSB4"}, {20, "/dev/ttyUSB13"},
        {21, "/dev/ttyACM2"}, {30, "/dev/ttyACM11"}, {31, "/dev/ttyS4"},   {255, "/dev/ttyS228"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(default_com_port_path(c.port), c.path) << "COM" << c.port;
    EXPECT_EQ(com_port_path_in("/tmp/p", 3), "/tmp/p/COM3");
    EXPECT_EQ(com_port_path_in("/tmp/p/", 10), "/tmp/p/COM10");
    for (uint32_t port : {0u, 256u, 4294967295u}) {
        EXPECT_EQ(default_com_port_path(port), "") << port;
        EXPECT_EQ(com_port_path_in("/ports", port), "") << port;
    }
}

TEST(ComPorts, environment_chooses_between_folder_and_table)
{
    setenv("LOGGER_PORTS", "/tmp/links", 1);
    EXPECT_EQ(com_port_path(7), "/tmp/links/COM7");
    setenv("LOGGER_PORTS", "", 1);
    EXPECT_EQ(com_port_path(7), "/dev/ttyUSB2");
    unsetenv("LOGGER_PORTS");
    EXPECT_EQ(com_port_path(7), "/dev/ttyUSB2");
    EXPECT_EQ(com_port_path(0), "");
}

}  // namespace
