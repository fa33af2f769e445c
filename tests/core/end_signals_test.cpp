// The end signals' thread ends before main returns: no request comes after.
#include "core/end_signals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

TEST(EndSignals, the_watching_thread_is_gone_once_stopped)
{
    const auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
    watch_end_signals([] {});
    const auto watching = threads();
    stop_watching_end_signals();
    // Joined, the thread has ended; under an emulator (qemu-user) its host
    // thread may take a moment more to leave the process's task list.
    for (int32_t look = 0; look < 200 && threads() != watching - 1; ++look)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(threads(), watching - 1);
}
