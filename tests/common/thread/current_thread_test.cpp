// The calling thread's object and name when the thread layer never saw the thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "common/thread/thread.h"

TEST(CurrentThread, ForeignThreadHasNoObjectAndTheFallbackName)
{
    const std::string fallback = "Unknown Thread (Function temporarily disabled for Win32)";
    EXPECT_EQ(ThreadGetCurrent(), nullptr);
    EXPECT_EQ(ThreadGetCurrentName(), fallback);
    EXPECT_EQ(ThreadGetCurrentThreadName(), fallback);
    EXPECT_EQ(ThreadLookupName(), fallback);
    EXPECT_EQ(ThreadGetCurrentName(), ThreadGetCurrentName()); // a fixed string, not a copy

    uint32_t mainId = ThreadGetCurrentId();
    uint32_t otherId = mainId;
    std::thread other([&] { otherId = ThreadGetCurrentId(); });
    other.join();
    EXPECT_NE(mainId, 0u);
    EXPECT_NE(otherId, mainId);
    EXPECT_EQ(ThreadGetCurrentId(), mainId);
}
