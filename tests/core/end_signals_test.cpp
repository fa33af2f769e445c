// The end signals' thread ends before main returns: no request comes after.
#include "core/end_signals.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(EndSignals, the_watching_thread_is_gone_once_stopped)
{
    const auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
    watch_end_signals([] {});
    const auto watching = threads();
    stop_watching_end_signals();
    EXPECT_EQ(threads(), watching - 1);
}
