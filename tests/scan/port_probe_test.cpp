// The port scanner's platform-free parts: the scan order, the listing, and the
// timing of the key wait.
#include <gtest/gtest.h>

#include <vector>

#include "scan/port_probe.h"

TEST(PresentPorts, probes_1_to_255_once_each_in_order_and_lists_present_and_held)
{
    std::vector<uint32_t> probed;
    auto probe = [&probed](uint32_t port) {
        probed.push_back(port);
        switch (port) {
        case 1:
            return PortProbe::present;
        case 3:
            return PortProbe::held;
        case 10:
            return PortProbe::present;
        case 255:
            return PortProbe::held;
        default:
            return PortProbe::absent;
        }
    };
    EXPECT_EQ(present_ports(probe), (std::vector<uint32_t>{1, 3, 10, 255}));
    ASSERT_EQ(probed.size(), 255u);
    for (uint32_t i = 0; i < probed.size(); ++i)
        EXPECT_EQ(probed[i], i + 1);
}

TEST(PortListText, exact_bytes)
{
    EXPECT_EQ(port_list_text({1, 3, 10}), "COM1\r\nCOM3\r\nCOM10\r\n\r\nSleeping to Exit\r\n");
    EXPECT_EQ(port_list_text({2, 10, 255}), "COM2\r\nCOM10\r\nCOM255\r\n\r\nSleeping to Exit\r\n");
    EXPECT_EQ(port_list_text({}), "\r\nSleeping to Exit\r\n");
}

TEST(WaitForKey, checks_at_once_then_every_50_ms_until_a_key_comes)
{
    VirtualClock clock;
    int checks = 0;
    clock.set_on_sleep([](int64_t delay_ms) { EXPECT_EQ(delay_ms, 50); });
    wait_for_key([&checks] { return ++checks == 5; }, clock);
    EXPECT_EQ(checks, 5);
    EXPECT_EQ(clock.total_slept_ms(), 200);

    VirtualClock no_wait;
    wait_for_key([] { return true; }, no_wait);
    EXPECT_EQ(no_wait.total_slept_ms(), 0);
}
