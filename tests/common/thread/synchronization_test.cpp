// Mutexes, spinlocks, semaphores, conditions and thread-local globals across threads.
// Portable; every wait that could block for ever has a bounded way out.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/thread/condition.h"
#include "common/thread/mutex.h"
#include "common/thread/semaphore.h"
#include "common/thread/synchronization.h"
#include "platform/os.h"
#include "test_support.h"

// Long enough for a thread that was not blocked to have gone on; used only to check that
// something did not happen.
static void Settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(Mutex, RecursiveForItsOwnerAndExclusiveForOthers)
{
    ThreadMutex* mutex = ThreadMutexCreate();
    const auto othersGetIt = [mutex] {
        bool got = false;
        std::thread([&] {
            got = ThreadMutexTryLock(mutex);
            if (got)
                ThreadMutexUnlock(mutex);
        }).join();
        return got;
    };
    ThreadMutexLock(mutex);
    EXPECT_TRUE(ThreadMutexTryLock(mutex)); // the owner takes it once more
    EXPECT_FALSE(othersGetIt());
    ThreadMutexUnlock(mutex);
    EXPECT_FALSE(othersGetIt()); // one lock still held
    ThreadMutexUnlock(mutex);
    EXPECT_TRUE(othersGetIt());
    ThreadMutexDestroy(mutex);
}

TEST(Spinlock, ExcludesUnderContentionAndIsNotRecursive)
{
    ThreadSpinlockData* spinlock = ThreadSpinlockCreate();
    EXPECT_TRUE(ThreadSpinlockTryLock(spinlock));
    EXPECT_FALSE(ThreadSpinlockTryLock(spinlock));
    ThreadSpinlockUnlock(spinlock);
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
    ThreadSpinlockDestroy(spinlock);
}

// A waiter passes only after a signal, which leaves nothing over; the count stops at the
// largest signed value.
TEST(ThreadSemaphore, ASignalReleasesAWaiterAndTheCountHasALimit)
{
    ThreadSemaphore* semaphore = ThreadSemaphoreCreate(1);
    EXPECT_TRUE(ThreadSemaphoreTryWait(semaphore));
    std::atomic<bool> passed{false};
    std::thread waiter([&] {
        ThreadSemaphoreWait(semaphore);
        passed = true;
    });
    Settle();
    EXPECT_FALSE(passed);
    ThreadSemaphoreSignal(semaphore);
    EXPECT_TRUE(WaitUntil([&] { return passed.load(); }));
    EXPECT_FALSE(ThreadSemaphoreTryWait(semaphore));
    ThreadSemaphoreSignal(semaphore); // a stuck waiter's way out
    waiter.join();
    ThreadSemaphoreDestroy(semaphore);
    CAssertRecorder recorder;
    semaphore = ThreadSemaphoreCreate(0x7FFFFFFF);
    ThreadSemaphoreSignal(semaphore); // past the limit: refused
    ThreadSemaphoreDestroy(semaphore);
    ThreadSemaphoreDestroy(ThreadSemaphoreCreate(0x80000000u));
    EXPECT_EQ(recorder.Count(), 3u); // the signal, the initial value and the missing semaphore
    EXPECT_TRUE(recorder.Saw("The initial value is to large"));
}

// A wake-up with nobody waiting is not remembered; WakeOne releases one waiter, WakeAll the
// rest.
TEST(ThreadCondition, WakeOneReleasesOneWaiterAndWakeAllEvery)
{
    ThreadMutex* mutex = ThreadMutexCreate();
    ThreadCondition* condition = ThreadConditionCreate(mutex);
    std::atomic<int> waiting{0}, returned{0};
    ThreadConditionWakeOne(condition);
    std::vector<std::thread> threads;
    for (int index = 0; index < 5; ++index)
        threads.emplace_back([&] {
            CScopedMutexLock hold(mutex);
            ++waiting;
            ThreadConditionWait(condition);
            ++returned;
        });
    ASSERT_TRUE(WaitUntil([&] { return waiting == 5; }));
    CScopedMutexLock{mutex}; // every waiter has now given it up inside its wait
    Settle();
    EXPECT_EQ(returned, 0);
    ThreadConditionWakeOne(condition);
    EXPECT_TRUE(WaitUntil([&] { return returned != 0; }));
    Settle();
    EXPECT_EQ(returned, 1);
    ThreadConditionWakeAll(condition);
    ASSERT_TRUE(WaitUntil([&] { return returned == 5; })); // or end the process, not hang
    for (std::thread& thread : threads)
        thread.join();
    ThreadConditionDestroy(condition);
    ThreadMutexDestroy(mutex);
}

TLS_GLOBAL_DEFINE(g_test_tls);
static std::atomic<int> s_TlsAllocations{0}, s_TlsFailures{2};

// A failed slot allocation reads 0, stores nothing and is retried; threads racing to the
// first access then allocate one slot and keep their own values.
TEST(TlsGlobal, AllocatesOneSlotUnderARaceAndRetriesAfterAFailure)
{
    g_ThreadSeams.m_TlsAlloc = [] {
        s_TlsAllocations.fetch_add(1);
        if (s_TlsFailures.fetch_sub(1) > 0)
            return OS_TLS_INVALID;
        // Widens the window in which a second thread could also see no slot.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return OsTlsAlloc();
    };
    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls), 0u);
    TLS_GLOBAL_SET_UINTPTR(g_test_tls, 5);
    EXPECT_EQ(g_test_tls_slot, OS_TLS_INVALID);
    EXPECT_EQ(s_TlsAllocations.load(), 2);
    std::atomic<int> ready{0}, kept{0};
    std::vector<std::thread> threads;
    for (uintptr_t value = 1; value <= 8; ++value)
        threads.emplace_back([&, value] {
            ready.fetch_add(1);
            WaitUntil([&] { return ready.load() == 8; });
            TLS_GLOBAL_SET_UINTPTR(g_test_tls, value);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            kept += TLS_GLOBAL_GET_UINTPTR(g_test_tls) == value;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(s_TlsAllocations.load(), 3);
    EXPECT_EQ(kept, 8);
    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls), 0u); // a thread that never stored a value
    g_ThreadSeams.m_TlsAlloc = &OsTlsAlloc;
}
