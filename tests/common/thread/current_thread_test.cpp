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

TEST(CurrentThread, NameComesFromTheThreadObject)
{
    ThreadImpl object(nullptr, nullptr, nullptr, nullptr);
    std::snprintf(object.m_Name, sizeof(object.m_Name), "%s", "render");
    TLS_GLOBAL_SET_UINTPTR(g_current_thread, &object);
    EXPECT_EQ(ThreadGetCurrent(), &object);
    EXPECT_EQ(ThreadGetCurrentName(), object.m_Name);
    EXPECT_EQ(ThreadGetName(&object), object.m_Name);
    EXPECT_STREQ(ThreadLookupName(), "Unknown Thread (Function temporarily disabled for Win32)");

    std::string otherName;
    std::thread other([&] { otherName = ThreadGetCurrentName(); });
    other.join();
    EXPECT_EQ(otherName, "Unknown Thread (Function temporarily disabled for Win32)");
    TLS_GLOBAL_SET_UINTPTR(g_current_thread, 0);
}
