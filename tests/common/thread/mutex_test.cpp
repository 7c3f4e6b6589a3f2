// The recursive mutex and its scoped holder, across threads.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "common/thread/mutex.h"

namespace
{

bool TryLockFromAnotherThread(ThreadMutex* mutex)
{
    bool got = false;
    std::thread other([&] {
        got = ThreadMutexTryLock(mutex);
        if (got)
            ThreadMutexUnlock(mutex);
    });
    other.join();
    return got;
}

} // namespace

TEST(Mutex, RecursiveForItsOwnerAndExclusiveForOthers)
{
    ThreadMutex* mutex = ThreadMutexCreate();
    EXPECT_EQ(mutex->m_Owned, 0u);
    ThreadMutexLock(mutex);
    EXPECT_TRUE(ThreadMutexTryLock(mutex)); // the owner takes it once more
    ThreadMutexLock(mutex);                 // and again, without blocking
    EXPECT_FALSE(TryLockFromAnotherThread(mutex));
    ThreadMutexUnlock(mutex);
    ThreadMutexUnlock(mutex);
    EXPECT_FALSE(TryLockFromAnotherThread(mutex)); // one lock still held
    ThreadMutexUnlock(mutex);
    EXPECT_TRUE(TryLockFromAnotherThread(mutex)); // free after as many unlocks as locks
    ThreadMutexDestroy(mutex);
}

TEST(Mutex, ScopedLockIsReleasedByAnException)
{
    ThreadMutex storage;
    ThreadMutex* mutex = ThreadMutexInit(&storage);
    EXPECT_EQ(mutex, &storage);
    EXPECT_EQ(storage.m_Owned, 1u);
    try
    {
        CScopedMutexLock hold(mutex);
        EXPECT_FALSE(TryLockFromAnotherThread(mutex));
        throw std::runtime_error("leave the scope");
    }
    catch (const std::runtime_error&)
    {
    }
    EXPECT_TRUE(TryLockFromAnotherThread(mutex));
    {
        CScopedMutexLock hold(mutex);
        EXPECT_FALSE(TryLockFromAnotherThread(mutex));
    }
    EXPECT_TRUE(TryLockFromAnotherThread(mutex));
    // Destroying a mutex in caller storage keeps the storage (and its flag) as it is.
    ThreadMutexDestroy(mutex);
    EXPECT_EQ(storage.m_Owned, 1u);
}
