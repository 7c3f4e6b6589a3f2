// Tests of semaphores and condition variables: counts, the count limits, and wake-ups
// across threads. Portable; every wait that could block for ever has a bounded way out.
// An assertion that no recorder expects ends the test.
#include <gtest/gtest.h>

#include <vector>

#include "common/thread/condition.h"
#include "common/thread/semaphore.h"
#include "thread_test_helpers.h"

// Long enough for a thread that was not blocked to have gone on; used only to check that
// something did not happen.
static void Settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(ThreadSemaphore, CountsFromTheInitialValueAndASignalReleasesAWaiter)
{
    for (uint32_t initial : {0u, 3u})
    {
        ThreadSemaphore* semaphore = ThreadSemaphoreCreate(initial);
        for (uint32_t taken = 0; taken < initial; ++taken)
            EXPECT_TRUE(ThreadSemaphoreTryWait(semaphore));
        std::atomic<bool> passed{false};
        std::thread waiter([&] {
            ThreadSemaphoreWait(semaphore);
            passed = true;
        });
        Settle();
        EXPECT_FALSE(passed) << initial;
        ThreadSemaphoreSignal(semaphore);
        EXPECT_TRUE(WaitUntil([&] { return passed.load(); }));
        ThreadSemaphoreSignal(semaphore); // one left over, or a stuck waiter's way out
        waiter.join();
        EXPECT_TRUE(ThreadSemaphoreTryWait(semaphore));
        EXPECT_FALSE(ThreadSemaphoreTryWait(semaphore));
        ThreadSemaphoreDestroy(semaphore);
    }
}

TEST(ThreadSemaphore, CountLimitIsTheLargestSignedValue)
{
    CAssertRecorder recorder;
    ThreadSemaphore* full = ThreadSemaphoreCreate(0x7FFFFFFF);
    ThreadSemaphoreSignal(full); // past the limit: refused, count unchanged
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression, "result == TRUE");
    EXPECT_TRUE(ThreadSemaphoreTryWait(full));
    ThreadSemaphoreDestroy(full);

    ThreadSemaphore* refused = ThreadSemaphoreCreate(0x80000000u);
    ASSERT_EQ(recorder.Count(), 3u);
    EXPECT_EQ(recorder.Records()[1].m_Expression,
              "(int)initial_value >= 0 && \"The initial value is to large, Win32 semaphores can "
              "only handle signed int sizes.\"");
    EXPECT_EQ(recorder.Records()[2].m_Expression, "s->m_Semaphore != 0");
    EXPECT_FALSE(ThreadSemaphoreTryWait(refused)); // no semaphore, yet safe to use and destroy
    ThreadSemaphoreDestroy(refused);
}

TEST(ThreadCondition, WakeOneReleasesOneWaiterButIsNotRememberedAndWakeAllReleasesEvery)
{
    // Leaked with its waiters when a wake-up leaves some blocked, so the test fails instead
    // of hanging.
    struct SWaiters
    {
        ThreadMutex* m_Mutex = ThreadMutexCreate();
        ThreadCondition* m_Condition = ThreadConditionCreate(m_Mutex);
        std::vector<std::thread> m_Threads;
        std::atomic<int> m_Waiting{0}, m_Returned{0};
    }* waiters = new SWaiters;
    ThreadConditionWakeOne(waiters->m_Condition); // nobody waits yet
    for (int index = 0; index < 5; ++index)
        waiters->m_Threads.emplace_back([waiters] {
            CScopedMutexLock hold(waiters->m_Mutex);
            ++waiters->m_Waiting;
            ThreadConditionWait(waiters->m_Condition);
            ++waiters->m_Returned;
        });
    ASSERT_TRUE(WaitUntil([&] { return waiters->m_Waiting == 5; }));
    // Each counted itself holding the mutex, which it gives up only inside the wait.
    CScopedMutexLock{waiters->m_Mutex};
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
