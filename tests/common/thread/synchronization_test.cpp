// Mutexes, spinlocks, semaphores, conditions and thread-local globals across threads.
// Portable; every wait that could block for ever has a bounded way out.
#include "common/thread/condition.h"
#include "common/thread/semaphore.h"
#include "test_support.h"

// Long enough for a thread that was not blocked to have gone on; used only to check that
// something did not happen.
static const auto s_Settle = std::chrono::milliseconds(50);

// The mutex is recursive for its owner and exclusive for others until the last unlock; the
// spinlock is not recursive, and four threads adding under it lose nothing.
TEST(Locks, MutexRecursionAndExclusionAndSpinlockExclusionUnderContention)
{
    ThreadMutex* mutex = ThreadMutexCreate();
    ThreadMutexLock(mutex);
    EXPECT_TRUE(ThreadMutexTryLock(mutex));
    ThreadMutexUnlock(mutex);
    EXPECT_FALSE(OtherThreadTakes(mutex));
    ThreadMutexUnlock(mutex);
    EXPECT_TRUE(OtherThreadTakes(mutex));
    ThreadMutexDestroy(mutex);
    ThreadSpinlockData* spinlock = ThreadSpinlockCreate();
    EXPECT_TRUE(ThreadSpinlockTryLock(spinlock));
    EXPECT_FALSE(ThreadSpinlockTryLock(spinlock));
    ThreadSpinlockUnlock(spinlock);
    long counter = 0;
    RunThreads(4, [&](int) {
        for (int i = 0; i < 20000; ++i)
        {
            ThreadSpinlockLock(spinlock);
            counter = counter + 1;
            ThreadSpinlockUnlock(spinlock);
        }
    });
    EXPECT_EQ(counter, 80000);
    ThreadSpinlockDestroy(spinlock);
    ThreadSpinlockData own; // the caller's storage: destroy leaves it alone
    ThreadSpinlockDestroy(ThreadSpinlockInit(&own));
}

// A semaphore's wait takes a signal, which leaves nothing over; the count stops at the
// largest signed value. A condition's wake-up with nobody waiting is not
// remembered; WakeOne releases one waiter, WakeAll the rest.
TEST(Wakeups, SemaphoreCountAndLimitAndConditionWakeOneAndWakeAll)
{
    ThreadSemaphore* semaphore = ThreadSemaphoreCreate(0);
    EXPECT_FALSE(ThreadSemaphoreTryWait(semaphore));
    ThreadSemaphoreSignal(semaphore);
    ThreadSemaphoreWait(semaphore); // returns: the signal was counted
    EXPECT_FALSE(ThreadSemaphoreTryWait(semaphore));
    ThreadSemaphoreDestroy(semaphore);
    CAssertRecorder recorder;
    semaphore = ThreadSemaphoreCreate(0x7FFFFFFF);
    ThreadSemaphoreSignal(semaphore); // past the limit: refused
    EXPECT_EQ(recorder.Expressions(), std::vector<std::string>{"result == TRUE"});
    EXPECT_TRUE(ThreadSemaphoreTryWait(semaphore));
    ThreadSemaphoreDestroy(semaphore);

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
    std::this_thread::sleep_for(s_Settle);
    EXPECT_EQ(returned, 0);
    ThreadConditionWakeOne(condition);
    EXPECT_TRUE(WaitUntil([&] { return returned != 0; }));
    std::this_thread::sleep_for(s_Settle);
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
    TLS_GLOBAL_SET_UINTPTR(g_test_tls, 5);
    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls), 0u);
    EXPECT_EQ(s_TlsAllocations.load(), 2);
    std::atomic<int> kept{0};
    RunThreads(8, [&](int index) {
        const uintptr_t value = 1 + static_cast<uintptr_t>(index);
        TLS_GLOBAL_SET_UINTPTR(g_test_tls, value);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        kept += TLS_GLOBAL_GET_UINTPTR(g_test_tls) == value;
    });
    EXPECT_EQ(std::pair(s_TlsAllocations.load(), kept.load()), std::pair(3, 8));
    EXPECT_EQ(TLS_GLOBAL_GET_UINTPTR(g_test_tls), 0u); // a thread that never stored a value
    g_ThreadSeams.m_TlsAlloc = &OsTlsAlloc;
}
