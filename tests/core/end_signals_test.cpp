// The thread that takes the end signals: it ends before main returns, so no
// request can come after.
#include "core/end_signals.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::ptrdiff_t thread_count()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {});
}

TEST(EndSignals, the_watching_thread_is_gone_once_stopped)
{
    watch_end_signals([] {});
    const std::ptrdiff_t watching = thread_count();
    stop_watching_end_signals();
    EXPECT_EQ(thread_count(), watching - 1);
    stop_watching_end_signals();  // a second stop changes nothing
}

}  // namespace
