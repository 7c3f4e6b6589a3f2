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

// A waiter passes only after a signal; the count stops at the largest signed value.
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
    ThreadSemaphoreSignal(semaphore); // one left over, or a stuck waiter's way out
    waiter.join();
    EXPECT_TRUE(ThreadSemaphoreTryWait(semaphore));
    EXPECT_FALSE(ThreadSemaphoreTryWait(semaphore));
    ThreadSemaphoreDestroy(semaphore);

    CAssertRecorder recorder;
    ThreadSemaphore* full = ThreadSemaphoreCreate(0x7FFFFFFF);
    ThreadSemaphoreSignal(full); // past the limit: refused
    ThreadSemaphoreDestroy(full);
    ThreadSemaphore* refused = ThreadSemaphoreCreate(0x80000000u);
    EXPECT_FALSE(ThreadSemaphoreTryWait(refused)); // no semaphore, yet safe to use and destroy
    ThreadSemaphoreDestroy(refused);
    EXPECT_EQ(recorder.Expressions(),
              (std::vector<std::string>{
                  "result == TRUE",
                  "(int)initial_value >= 0 && \"The initial value is to large, Win32 semaphores "
                  "can only handle signed int sizes.\"",
                  "s->m_Semaphore != 0"}));
}

// A wake-up with nobody waiting is not remembered; WakeOne releases one waiter, WakeAll the
// rest. The waiters are leaked when a wake-up leaves some blocked: a failure, not a hang.
TEST(ThreadCondition, WakeOneReleasesOneWaiterAndWakeAllEvery)
{
    struct SWaiters
    {
        ThreadMutex* m_Mutex = ThreadMutexCreate();
        ThreadCondition* m_Condition = ThreadConditionCreate(m_Mutex);
        std::vector<std::thread> m_Threads;
        std::atomic<int> m_Waiting{0}, m_Returned{0};
    }* waiters = new SWaiters;
    ThreadConditionWakeOne(waiters->m_Condition);
    for (int index = 0; index < 5; ++index)
        waiters->m_Threads.emplace_back([waiters] {
            CScopedMutexLock hold(waiters->m_Mutex);
            ++waiters->m_Waiting;
            ThreadConditionWait(waiters->m_Condition);
            ++waiters->m_Returned;
        });
    ASSERT_TRUE(WaitUntil([&] { return waiters->m_Waiting == 5; }));
    CScopedMutexLock{waiters->m_Mutex}; // every waiter has now given it up inside its wait
    Settle();
    EXPECT_EQ(waiters->m_Returned, 0);
    ThreadConditionWakeOne(waiters->m_Condition);
    EXPECT_TRUE(WaitUntil([&] { return waiters->m_Returned != 0; }));
    Settle();
    EXPECT_EQ(waiters->m_Returned, 1);
    ThreadConditionWakeAll(waiters->m_Condition);
    ASSERT_TRUE(WaitUntil([&] { return waiters->m_Returned == 5; }));
    for (std::thread& thread : waiters->m_Threads)
        thread.join();
    ThreadConditionDestroy(waiters->m_Condition);
    ThreadMutexDestroy(waiters->m_Mutex);
    delete waiters;
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
    std::atomic<int> ready{0};
    std::vector<uintptr_t> reads(16, 1);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            WaitUntil([&] { return ready.load() == 8; });
            reads[2 * i] = TLS_GLOBAL_GET_UINTPTR(g_test_tls);
            TLS_GLOBAL_SET_UINTPTR(g_test_tls, 1000 + i);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            reads[2 * i + 1] = TLS_GLOBAL_GET_UINTPTR(g_test_tls) - 1000 - i;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(s_TlsAllocations.load(), 3);
    EXPECT_EQ(reads, std::vector<uintptr_t>(16, 0));
    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls), 0u); // a thread that never stored a value
    g_ThreadSeams.m_TlsAlloc = &OsTlsAlloc;
}
