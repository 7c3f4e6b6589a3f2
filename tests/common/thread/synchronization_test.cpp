// Spinlocks and thread-local globals, across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "common/thread/synchronization.h"
#include "platform/os.h"
#include "test_support.h"

TLS_GLOBAL_DEFINE(g_test_tls_race);
TLS_GLOBAL_DEFINE(g_test_tls_fail);

namespace
{

std::atomic<int> s_TlsAllocations{0};
std::atomic<int> s_TlsAllocFailuresLeft{0};

uint32_t CountingTlsAlloc()
{
    s_TlsAllocations.fetch_add(1);
    if (s_TlsAllocFailuresLeft.load() > 0)
    {
        s_TlsAllocFailuresLeft.fetch_sub(1);
        return OS_TLS_INVALID;
    }
    // Widen the window in which a second thread could also see the slot unallocated.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return OsTlsAlloc();
}

class ThreadSeamsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_Saved = g_ThreadSeams;
        g_ThreadSeams.m_TlsAlloc = &CountingTlsAlloc;
        // Each test starts from unallocated globals, also when repeated in one process.
        g_test_tls_race_slot = g_test_tls_fail_slot = OS_TLS_INVALID;
        s_TlsAllocations.store(0);
    }
    void TearDown() override { g_ThreadSeams = m_Saved; }
    SThreadSeams m_Saved;
};

} // namespace

TEST_F(ThreadSeamsTest, RacingFirstAccessAllocatesOneSlotAndKeepsValuesPerThread)
{
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<uintptr_t> firstRead(kThreads, 1), secondRead(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
    {
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (!go.load())
                std::this_thread::yield();
            firstRead[i] = TLS_GLOBAL_GET_UINTPTR(g_test_tls_race);
            TLS_GLOBAL_SET_UINTPTR(g_test_tls_race, 1000 + i);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            secondRead[i] = TLS_GLOBAL_GET_UINTPTR(g_test_tls_race);
        });
    }
    ASSERT_TRUE(WaitUntil([&] { return ready.load() == kThreads; }));
    go.store(true);
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(s_TlsAllocations.load(), 1);
    for (int i = 0; i < kThreads; ++i)
    {
        EXPECT_EQ(firstRead[i], 0u) << "thread " << i;
        EXPECT_EQ(secondRead[i], uintptr_t(1000 + i)) << "thread " << i;
    }
    // A thread that never stored a value reads 0.
    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls_race), 0u);
}

TEST_F(ThreadSeamsTest, FailedSlotAllocationReadsZeroAndIsRetried)
{
    s_TlsAllocFailuresLeft.store(2);
    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls_fail), 0u);
    TLS_GLOBAL_SET_UINTPTR(g_test_tls_fail, 5); // stores nothing: still no slot
    EXPECT_EQ(s_TlsAllocations.load(), 2);
    EXPECT_EQ(g_test_tls_fail_slot, OS_TLS_INVALID);

    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls_fail), 0u); // allocates now
    EXPECT_EQ(s_TlsAllocations.load(), 3);
    EXPECT_NE(g_test_tls_fail_slot, OS_TLS_INVALID);
    TLS_GLOBAL_SET_UINTPTR(g_test_tls_fail, 5);
    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls_fail), 5u);
    EXPECT_EQ(s_TlsAllocations.load(), 3);
}

TEST(Spinlock, TryLockAcrossThreadsAndRelease)
{
    ThreadSpinlockData* spinlock = ThreadSpinlockCreate();
    EXPECT_TRUE(ThreadSpinlockTryLock(spinlock));
    bool otherGot = true;
    std::thread other([&] { otherGot = ThreadSpinlockTryLock(spinlock); });
    other.join();
    EXPECT_FALSE(otherGot);                        // held: false at once
    EXPECT_FALSE(ThreadSpinlockTryLock(spinlock)); // not recursive, still held

    ThreadSpinlockUnlock(spinlock);
    ThreadSpinlockUnlock(spinlock); // releasing a free lock leaves it free
    std::thread again([&] { otherGot = ThreadSpinlockTryLock(spinlock); });
    again.join();
    EXPECT_TRUE(otherGot);
    ThreadSpinlockUnlock(spinlock);
    ThreadSpinlockDestroy(spinlock);
}

TEST(Spinlock, MutualExclusionUnderContention)
{
    ThreadSpinlockData storage;
    std::memset(&storage, 0xEE, sizeof(storage));
    ThreadSpinlockData* spinlock = ThreadSpinlockInit(&storage);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i)
            {
                ThreadSpinlockLock(spinlock);
                counter = counter + 1;
                ThreadSpinlockUnlock(spinlock);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 80000);

    // Destroying a spinlock in caller storage leaves the storage as it is.
    ThreadSpinlockDestroy(spinlock);
    const ThreadSpinlockImpl* impl = reinterpret_cast<const ThreadSpinlockImpl*>(&storage);
    EXPECT_EQ(impl->m_Owned, 1u);
    EXPECT_EQ(impl->m_Lock, 0);
}
