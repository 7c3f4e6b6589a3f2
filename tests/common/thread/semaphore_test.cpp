// Semaphores and condition variables: counts, the count limits, and wake-ups across threads.
// Every wait that could block for ever has a bounded way out.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/thread/condition.h"
#include "common/thread/semaphore.h"
#include "support/test_support.h"

static const char* const s_InitialValueCheck =
    "(int)initial_value >= 0 && \"The initial value is to large, Win32 semaphores can only "
    "handle signed int sizes.\"";

// Long enough for a blocked thread to have returned if it was not blocked; only ever used
// to check that something did not happen.
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
    std::thread waiter(
        [&]
        {
            for (int wait = 0; wait < 4; ++wait)
            {
                ThreadSemaphoreWait(three);
                ++taken;
            }
        });
    bool three_taken = WaitUntil([&] { return taken.load() >= 3; });
    EXPECT_TRUE(three_taken);
    Settle();
    EXPECT_EQ(taken, 3);
    ThreadSemaphoreSignal(three);
    EXPECT_TRUE(WaitUntil([&] { return taken.load() == 4; }));
    // A broken count leaves the waiter blocked: release it so the test ends.
    for (int extra = taken.load(); extra < 4; ++extra)
        ThreadSemaphoreSignal(three);
    waiter.join();
    EXPECT_FALSE(ThreadSemaphoreTryWait(three));
    ThreadSemaphoreDestroy(three);
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST(ThreadSemaphore, CountLimitIsTheLargestSignedValue)
{
    {
        CAssertRecorder recorder;
        ThreadSemaphore* full = ThreadSemaphoreCreate(0x7FFFFFFF);
        EXPECT_EQ(recorder.Count(), 0u);
        // A signal past the limit is refused and leaves the count as it was.
        ThreadSemaphoreSignal(full);
        ASSERT_EQ(recorder.Count(), 1u);
        EXPECT_EQ(recorder.Records()[0].m_Expression, "result == TRUE");
        EXPECT_TRUE(ThreadSemaphoreTryWait(full));
        ThreadSemaphoreSignal(full); // back at the limit: allowed
        EXPECT_EQ(recorder.Count(), 1u);
        ThreadSemaphoreDestroy(full);
    }
    {
        CAssertRecorder recorder;
        ThreadSemaphore* refused = ThreadSemaphoreCreate(0x80000000u);
        ASSERT_EQ(recorder.Count(), 2u);
        EXPECT_EQ(recorder.Records()[0].m_Expression, s_InitialValueCheck);
        EXPECT_EQ(recorder.Records()[1].m_Expression, "s->m_Semaphore != 0");
        // The record without a semaphore stays safe to use and to destroy.
        EXPECT_FALSE(ThreadSemaphoreTryWait(refused));
        ThreadSemaphoreWait(refused);
        EXPECT_TRUE(recorder.Saw("dwWaitResult == WAIT_OBJECT_0"));
        ThreadSemaphoreDestroy(refused);
    }
}

TEST(ThreadSemaphore, EverySignalFromManyThreadsIsTakenOnce)
{
    const int producers = 4;
    const int per_producer = 500;
    ThreadSemaphore* semaphore = ThreadSemaphoreCreate(0);
    std::atomic<int> taken{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int consumer = 0; consumer < 2; ++consumer)
        threads.emplace_back(
            [&]
            {
                while (!stop)
                {
                    ThreadSemaphoreWait(semaphore);
                    if (!stop)
                        ++taken;
                }
            });
    for (int producer = 0; producer < producers; ++producer)
        threads.emplace_back(
            [&]
            {
                for (int signal = 0; signal < per_producer; ++signal)
                    ThreadSemaphoreSignal(semaphore);
            });
    EXPECT_TRUE(WaitUntil([&] { return taken.load() == producers * per_producer; }));
    Settle();
    EXPECT_EQ(taken, producers * per_producer);
    stop = true;
    ThreadSemaphoreSignal(semaphore);
    ThreadSemaphoreSignal(semaphore);
    for (std::thread& thread : threads)
        thread.join();
    ThreadSemaphoreDestroy(semaphore);
}

// A mutex, its condition variable and the state that they guard.
struct SConditionFixture
{
    SConditionFixture() : m_Mutex(ThreadMutexCreate()), m_Condition(ThreadConditionCreate(m_Mutex))
    {
    }
    ~SConditionFixture()
    {
        ThreadConditionDestroy(m_Condition);
        ThreadMutexDestroy(m_Mutex);
    }
    int Read(const int& value)
    {
        CScopedMutexLock hold(m_Mutex);
        return value;
    }
    // Joins the waiters once all have returned. Waiters that a broken wake-up left blocked
    // are abandoned with the fixture (leaked, so they block on live objects) and the test
    // fails instead of hanging.
    static void Finish(SConditionFixture* fixture, std::vector<std::thread>& threads, int expected)
    {
        if (fixture->Read(fixture->m_Returned) == expected)
        {
            for (std::thread& thread : threads)
                thread.join();
            delete fixture;
            return;
        }
        ADD_FAILURE() << "waiters left blocked";
        for (std::thread& thread : threads)
            thread.detach();
    }
    ThreadMutex* m_Mutex;
    ThreadCondition* m_Condition;
    int m_Waiting = 0;
    int m_Returned = 0;
    int m_Inside = 0;
    int m_Overlaps = 0;
    bool m_Go = false;
};

TEST(ThreadCondition, WakeAllReleasesEveryWaiterEachHoldingTheMutexInTurn)
{
    auto* shared = new SConditionFixture;
    SConditionFixture& fixture = *shared;
    const int waiters = 5;
    std::vector<std::thread> threads;
    for (int index = 0; index < waiters; ++index)
        threads.emplace_back(
            [&]
            {
                CScopedMutexLock hold(fixture.m_Mutex);
                ++fixture.m_Waiting;
                while (!fixture.m_Go)
                    ThreadConditionWait(fixture.m_Condition);
                // Back with the mutex held: nobody else is in here.
                if (++fixture.m_Inside != 1)
                    ++fixture.m_Overlaps;
                std::this_thread::yield();
                --fixture.m_Inside;
                ++fixture.m_Returned;
            });
    // Once all have counted themselves under the mutex, all are in the wait.
    EXPECT_TRUE(WaitUntil([&] { return fixture.Read(fixture.m_Waiting) == waiters; }));
    {
        CScopedMutexLock hold(fixture.m_Mutex);
        fixture.m_Go = true;
    }
    ThreadConditionWakeAll(fixture.m_Condition);
    EXPECT_TRUE(WaitUntil([&] { return fixture.Read(fixture.m_Returned) == waiters; }));
    // A wake-all that woke fewer leaves the others blocked: wake them one by one.
    for (int extra = 0; fixture.Read(fixture.m_Returned) < waiters && extra < 100; ++extra)
    {
        ThreadConditionWakeOne(fixture.m_Condition);
        Settle();
    }
    EXPECT_EQ(fixture.Read(fixture.m_Overlaps), 0);
    SConditionFixture::Finish(shared, threads, waiters);
}

TEST(ThreadCondition, WakeOneWithoutWaiterIsNotRemembered)
{
    auto* shared = new SConditionFixture;
    SConditionFixture& fixture = *shared;
    ThreadConditionWakeOne(fixture.m_Condition); // nobody waits yet
    std::vector<std::thread> threads;
    threads.emplace_back(
        [&]
        {
            CScopedMutexLock hold(fixture.m_Mutex);
            ++fixture.m_Waiting;
            ThreadConditionWait(fixture.m_Condition);
            ++fixture.m_Returned;
        });
    EXPECT_TRUE(WaitUntil([&] { return fixture.Read(fixture.m_Waiting) == 1; }));
    Settle();
    EXPECT_EQ(fixture.Read(fixture.m_Returned), 0);
    // The next wake ends the wait (again, if an early return made the first one moot).
    for (int wake = 0; wake < 100 && fixture.Read(fixture.m_Returned) == 0; ++wake)
    {
        ThreadConditionWakeOne(fixture.m_Condition);
        WaitUntil([&] { return fixture.Read(fixture.m_Returned) == 1; },
                  std::chrono::milliseconds(100));
    }
    SConditionFixture::Finish(shared, threads, 1);
}
