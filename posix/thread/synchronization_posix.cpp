// The mutex on POSIX: a recursive pthread mutex in the ThreadMutex storage, matching the
// critical section's recursion for its owner. Per-OS.
#include "common/thread/mutex.h"

#include <new>
#include <pthread.h>

#include "common/debug/assert.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(ThreadMutex::m_CriticalSection),
              "pthread_mutex_t must fit the ThreadMutex storage");
static_assert(alignof(pthread_mutex_t) <= alignof(ThreadMutex), "ThreadMutex alignment");

static pthread_mutex_t* OsMutex(ThreadMutex* mutex)
{
    return reinterpret_cast<pthread_mutex_t*>(mutex->m_CriticalSection);
}

ThreadMutex* ThreadMutexCreate()
{
    auto* mutex = static_cast<ThreadMutex*>(::operator new(sizeof(ThreadMutex)));
    ThreadMutexInit(mutex);
    mutex->m_Owned = 0;
    return mutex;
}

ThreadMutex* ThreadMutexInit(ThreadMutex* mutex)
{
    mutex->m_Owned = 1;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    int result = pthread_mutex_init(new (mutex->m_CriticalSection) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
    PLATFORM_ASSERT(result == 0);
    return mutex;
}

void ThreadMutexDestroy(ThreadMutex* mutex)
{
    pthread_mutex_destroy(OsMutex(mutex));
    if (mutex->m_Owned == 0)
        ::operator delete(mutex);
}

void ThreadMutexLock(ThreadMutex* mutex)
{
    int result = pthread_mutex_lock(OsMutex(mutex));
    PLATFORM_ASSERT(result == 0);
}

bool ThreadMutexTryLock(ThreadMutex* mutex)
{
    return pthread_mutex_trylock(OsMutex(mutex)) == 0;
}

void ThreadMutexUnlock(ThreadMutex* mutex)
{
    int result = pthread_mutex_unlock(OsMutex(mutex));
    PLATFORM_ASSERT(result == 0);
}
