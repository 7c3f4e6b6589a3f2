// The mutex, semaphore and condition variable on Windows: a critical section at the start
// of the ThreadMutex record, a semaphore handle, and a CONDITION_VARIABLE that sleeps on the
// bound mutex's critical section. Per-OS; ThreadMutexCreate is portable
// (common/thread/mutex.cpp).
#include "common/thread/mutex.h"

#include <new>
#include <windows.h>

#include "common/debug/assert.h"
#include "common/thread/condition.h"
#include "common/thread/semaphore.h"

static_assert(sizeof(CRITICAL_SECTION) == sizeof(ThreadMutex::m_CriticalSection),
              "CRITICAL_SECTION must fill the ThreadMutex storage");
static_assert(alignof(CRITICAL_SECTION) <= alignof(ThreadMutex), "ThreadMutex alignment");

static CRITICAL_SECTION* OsMutex(ThreadMutex* mutex)
{
    return reinterpret_cast<CRITICAL_SECTION*>(mutex->m_CriticalSection);
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

// ---- semaphore ----

struct ThreadSemaphore
{
    HANDLE m_Semaphore;
};

ThreadSemaphore* ThreadSemaphoreCreate(uint32_t initial_value)
{
    PLATFORM_ASSERT(
        (int)initial_value >= 0 &&
        "The initial value is to large, Win32 semaphores can only handle signed int sizes.");
    auto* s = new ThreadSemaphore;
    // Rights to wait on the semaphore and to signal it, nothing more.
    const DWORD access = SYNCHRONIZE | SEMAPHORE_MODIFY_STATE;
    static_assert(access == 0x00100002, "wait and modify rights");
    s->m_Semaphore = CreateSemaphoreExA(nullptr, static_cast<LONG>(initial_value), 0x7FFFFFFF,
                                        nullptr, 0, access);
    PLATFORM_ASSERT(s->m_Semaphore != 0);
    return s;
}

void ThreadSemaphoreDestroy(ThreadSemaphore* semaphore)
{
    // Closing a null handle would raise an invalid-handle exception under a debugger.
    if (semaphore->m_Semaphore != nullptr)
        CloseHandle(semaphore->m_Semaphore);
    delete semaphore;
}

void ThreadSemaphoreWait(ThreadSemaphore* semaphore)
{
    DWORD dwWaitResult = WaitForSingleObject(semaphore->m_Semaphore, INFINITE);
    PLATFORM_ASSERT(dwWaitResult == WAIT_OBJECT_0);
}

bool ThreadSemaphoreTryWait(ThreadSemaphore* semaphore)
{
    return WaitForSingleObject(semaphore->m_Semaphore, 0) == WAIT_OBJECT_0;
}

void ThreadSemaphoreSignal(ThreadSemaphore* semaphore)
{
    BOOL result = ReleaseSemaphore(semaphore->m_Semaphore, 1, nullptr);
    PLATFORM_ASSERT(result == TRUE);
}

// ---- condition variable ----

struct ThreadCondition
{
    CONDITION_VARIABLE m_Condition;
    ThreadMutex* m_Mutex; // bound for life, not owned
};

ThreadCondition* ThreadConditionCreate(ThreadMutex* mutex)
{
    auto* condition = new ThreadCondition;
    InitializeConditionVariable(&condition->m_Condition);
    condition->m_Mutex = mutex;
    return condition;
}

void ThreadConditionDestroy(ThreadCondition* condition)
{
    // A CONDITION_VARIABLE needs no release call.
    delete condition;
}

void ThreadConditionWait(ThreadCondition* condition)
{
    SleepConditionVariableCS(&condition->m_Condition, OsMutex(condition->m_Mutex), INFINITE);
}

void ThreadConditionWakeOne(ThreadCondition* condition)
{
    WakeConditionVariable(&condition->m_Condition);
}

void ThreadConditionWakeAll(ThreadCondition* condition)
{
    WakeAllConditionVariable(&condition->m_Condition);
}
