// The mutex on Windows: a critical section at the start of the ThreadMutex record. Per-OS.
#include "common/thread/mutex.h"

#include <new>
#include <windows.h>

static_assert(sizeof(CRITICAL_SECTION) == sizeof(ThreadMutex::m_CriticalSection),
              "CRITICAL_SECTION must fill the ThreadMutex storage");
static_assert(alignof(CRITICAL_SECTION) <= alignof(ThreadMutex), "ThreadMutex alignment");

static CRITICAL_SECTION* OsMutex(ThreadMutex* mutex)
{
    return reinterpret_cast<CRITICAL_SECTION*>(mutex->m_CriticalSection);
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
    InitializeCriticalSection(new (mutex->m_CriticalSection) CRITICAL_SECTION);
    return mutex;
}

void ThreadMutexDestroy(ThreadMutex* mutex)
{
    DeleteCriticalSection(OsMutex(mutex));
    if (mutex->m_Owned == 0)
        ::operator delete(mutex);
}

void ThreadMutexLock(ThreadMutex* mutex)
{
    EnterCriticalSection(OsMutex(mutex));
}

bool ThreadMutexTryLock(ThreadMutex* mutex)
{
    return TryEnterCriticalSection(OsMutex(mutex)) != 0;
}

void ThreadMutexUnlock(ThreadMutex* mutex)
{
    LeaveCriticalSection(OsMutex(mutex));
}
