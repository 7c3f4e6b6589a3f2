// Tests of semaphores and condition variables: counts, the count limits, and wake-ups
// across threads. Portable; every wait that could block for ever has a bounded way out.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/thread/condition.h"
#include "common/thread/semaphore.h"
#include "test_support.h"

// Long enough for a thread that was not blocked to have gone on; used only to check that
// something did not happen.
static void Settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(ThreadSemaphore, CountsFromTheInitialValue)
{
    CAssertRecorder recorder;
    ThreadSemaphore* empty = ThreadSemaphoreCreate(0);
    EXPECT_FALSE(ThreadSemaphoreTryWait(empty));
    ThreadSemaphoreSignal(empty);
    EXPECT_TRUE(ThreadSemaphoreTryWait(empty));
    EXPECT_FALSE(ThreadSemaphoreTryWait(empty));
    ThreadSemaphoreDestroy(empty);

    // Three waits return at once; the fourth blocks until another thread signals.
    ThreadSemaphore* three = ThreadSemaphoreCreate(3);
    std::atomic<int> taken{0};
    std::thread waiter([&] {
        for (int wait = 0; wait < 4; ++wait, ++taken)
            ThreadSemaphoreWait(three);
    });
    EXPECT_TRUE(WaitUntil([&] { return taken.load() >= 3; }));
    Settle();
    EXPECT_EQ(taken, 3);
    ThreadSemaphoreSignal(three);
    EXPECT_TRUE(WaitUntil([&] { return taken.load() == 4; }));
    for (int extra = taken.load(); extra < 4; ++extra) // a broken count: release the waiter
        ThreadSemaphoreSignal(three);
    waiter.join();
    EXPECT_FALSE(ThreadSemaphoreTryWait(three));
    ThreadSemaphoreDestroy(three);
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST(ThreadSemaphore, CountLimitIsTheLargestSignedValue)
{
    CAssertRecorder recorder;
    ThreadSemaphore* full = ThreadSemaphoreCreate(0x7FFFFFFF);
    EXPECT_EQ(recorder.Count(), 0u);
    ThreadSemaphoreSignal(full); // past the limit: refused, count unchanged
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression, "result == TRUE");
    EXPECT_TRUE(ThreadSemaphoreTryWait(full));
    ThreadSemaphoreSignal(full); // back at the limit: allowed
    EXPECT_EQ(recorder.Count(), 1u);
    ThreadSemaphoreDestroy(full);

    ThreadSemaphore* refused = ThreadSemaphoreCreate(0x80000000u);
    ASSERT_EQ(recorder.Count(), 3u);
    EXPECT_EQ(recorder.Records()[1].m_Expression,
              "(int)initial_value >= 0 && \"The initial value is to large, Win32 semaphores can "
              "only handle signed int sizes.\"");
    EXPECT_EQ(recorder.Records()[2].m_Expression, "s->m_Semaphore != 0");
    // The record without a semaphore stays safe to use and to destroy.
    EXPECT_FALSE(ThreadSemaphoreTryWait(refused));
    ThreadSemaphoreWait(refused);
    EXPECT_TRUE(recorder.Saw("dwWaitResult == WAIT_OBJECT_0"));
    ThreadSemaphoreDestroy(refused);
}

// A mutex, its condition variable, the state that they guard and the waiting threads.
// Waiters that a broken wake-up leaves blocked are abandoned with the (leaked) fixture, so
// the test fails instead of hanging.
struct SConditionFixture
{
    ThreadMutex* m_Mutex = ThreadMutexCreate();
    ThreadCondition* m_Condition = ThreadConditionCreate(m_Mutex);
    std::vector<std::thread> m_Threads;
    int m_Waiting = 0, m_Returned = 0, m_Inside = 0, m_Overlaps = 0;
    bool m_Go = false;

    int Read(const int& value)
    {
        CScopedMutexLock hold(m_Mutex);
        return value;
    }
    static void Finish(SConditionFixture* fixture, int expected)
    {
        EXPECT_EQ(fixture->Read(fixture->m_Returned), expected) << "waiters left blocked";
        if (fixture->Read(fixture->m_Returned) != expected)
        {
            for (std::thread& thread : fixture->m_Threads)
                thread.detach();
            return;
        }
        for (std::thread& thread : fixture->m_Threads)
            thread.join();
        ThreadConditionDestroy(fixture->m_Condition);
        ThreadMutexDestroy(fixture->m_Mutex);
        delete fixture;
    }
};

TEST(ThreadCondition, WakeAllReleasesEveryWaiterEachHoldingTheMutexInTurn)
{
    auto* fixture = new SConditionFixture;
    const int waiters = 5;
    for (int index = 0; index < waiters; ++index)
        fixture->m_Threads.emplace_back([fixture] {
            CScopedMutexLock hold(fixture->m_Mutex);
            ++fixture->m_Waiting;
            while (!fixture->m_Go)
                ThreadConditionWait(fixture->m_Condition);
            if (++fixture->m_Inside != 1) // back with the mutex held: alone in here
                ++fixture->m_Overlaps;
            std::this_thread::yield();
            --fixture->m_Inside;
            ++fixture->m_Returned;
        });
    // All counted themselves under the mutex, so all are in the wait (or about to loop).
    EXPECT_TRUE(WaitUntil([&] { return fixture->Read(fixture->m_Waiting) == waiters; }));
    {
        CScopedMutexLock hold(fixture->m_Mutex);
        fixture->m_Go = true;
    }
    ThreadConditionWakeAll(fixture->m_Condition);
    EXPECT_TRUE(WaitUntil([&] { return fixture->Read(fixture->m_Returned) == waiters; }));
    EXPECT_EQ(fixture->Read(fixture->m_Overlaps), 0);
    SConditionFixture::Finish(fixture, waiters);
}

TEST(ThreadCondition, WakeOneWithoutWaiterIsNotRemembered)
{
    auto* fixture = new SConditionFixture;
    ThreadConditionWakeOne(fixture->m_Condition); // nobody waits yet
    fixture->m_Threads.emplace_back([fixture] {
        CScopedMutexLock hold(fixture->m_Mutex);
        ++fixture->m_Waiting;
        ThreadConditionWait(fixture->m_Condition);
        ++fixture->m_Returned;
    });
    EXPECT_TRUE(WaitUntil([&] { return fixture->Read(fixture->m_Waiting) == 1; }));
    Settle();
    EXPECT_EQ(fixture->Read(fixture->m_Returned), 0);
    ThreadConditionWakeOne(fixture->m_Condition);
    EXPECT_TRUE(WaitUntil([&] { return fixture->Read(fixture->m_Returned) == 1; }));
    SConditionFixture::Finish(fixture, 1);
}
