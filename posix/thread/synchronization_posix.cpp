// The mutex, semaphore and condition variable on POSIX: a recursive pthread mutex in the
// ThreadMutex storage (matching the critical section's recursion for its owner), an unnamed
// sem_t and a pthread_cond_t waiting on the bound mutex. Per-OS; ThreadMutexCreate is
// portable (common/thread/mutex.cpp), lock and unlock are inline (platform/mutex_os.h).
#include "common/thread/mutex.h"

#include <cerrno>
#include <climits>
#include <new>
#include <pthread.h>
#include <semaphore.h>

#include "common/thread/condition.h"
#include "common/thread/semaphore.h"

#include "common/debug/assert.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(ThreadMutex::m_CriticalSection),
              "pthread_mutex_t must fit the ThreadMutex storage");
static_assert(alignof(pthread_mutex_t) <= alignof(ThreadMutex), "ThreadMutex alignment");

static pthread_mutex_t* OsMutex(ThreadMutex* mutex)
{
    return reinterpret_cast<pthread_mutex_t*>(mutex->m_CriticalSection);
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

bool ThreadMutexTryLock(ThreadMutex* mutex)
{
    return pthread_mutex_trylock(OsMutex(mutex)) == 0;
}

// ---- semaphore ----

// The Windows semaphore's ceiling is the largest signed 32-bit count; glibc's SEM_VALUE_MAX
// is the same value, so both OSes refuse the same counts.
static_assert(SEM_VALUE_MAX == 0x7FFFFFFF, "semaphore ceiling differs from Windows");

// m_Semaphore points at m_Storage once sem_init succeeded and is null otherwise, so a
// semaphore that the OS refused reads as a null handle, as on Windows.
struct ThreadSemaphore
{
    sem_t* m_Semaphore;
    sem_t m_Storage;
};

// The failure reports carry the same texts on both OSes, so the names that they quote
// exist here too.
static const int TRUE = 1;
static const int WAIT_OBJECT_0 = 0;
static const int WAIT_FAILED = -1;

ThreadSemaphore* ThreadSemaphoreCreate(uint32_t initial_value)
{
    PLATFORM_ASSERT(
        (int)initial_value >= 0 &&
        "The initial value is to large, Win32 semaphores can only handle signed int sizes.");
    auto* s = new ThreadSemaphore;
    // sem_init refuses values above SEM_VALUE_MAX, as CreateSemaphoreExA refuses a negative
    // initial count.
    s->m_Semaphore = sem_init(&s->m_Storage, 0, initial_value) == 0 ? &s->m_Storage : nullptr;
    PLATFORM_ASSERT(s->m_Semaphore != 0);
    return s;
}

void ThreadSemaphoreDestroy(ThreadSemaphore* semaphore)
{
    if (semaphore->m_Semaphore != nullptr)
        sem_destroy(semaphore->m_Semaphore);
    delete semaphore;
}

void ThreadSemaphoreWait(ThreadSemaphore* semaphore)
{
    // A signal handler interrupts sem_wait; the wait goes on, as a Windows wait would.
    int dwWaitResult = WAIT_FAILED;
    if (semaphore->m_Semaphore != nullptr)
    {
        int result;
        do
            result = sem_wait(semaphore->m_Semaphore);
        while (result != 0 && errno == EINTR);
        dwWaitResult = result == 0 ? WAIT_OBJECT_0 : WAIT_FAILED;
    }
    PLATFORM_ASSERT(dwWaitResult == WAIT_OBJECT_0);
}

bool ThreadSemaphoreTryWait(ThreadSemaphore* semaphore)
{
    if (semaphore->m_Semaphore == nullptr)
        return false;
    int result;
    do
        result = sem_trywait(semaphore->m_Semaphore);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

void ThreadSemaphoreSignal(ThreadSemaphore* semaphore)
{
    // sem_post refuses (EOVERFLOW) a count past SEM_VALUE_MAX and leaves it unchanged.
    int result = semaphore->m_Semaphore != nullptr && sem_post(semaphore->m_Semaphore) == 0;
    PLATFORM_ASSERT(result == TRUE);
}

// ---- condition variable ----

struct ThreadCondition
{
    pthread_cond_t m_Condition;
    ThreadMutex* m_Mutex; // bound for life, not owned
};

ThreadCondition* ThreadConditionCreate(ThreadMutex* mutex)
{
    auto* condition = new ThreadCondition;
    pthread_cond_init(&condition->m_Condition, nullptr);
    condition->m_Mutex = mutex;
    return condition;
}

void ThreadConditionDestroy(ThreadCondition* condition)
{
    pthread_cond_destroy(&condition->m_Condition);
    delete condition;
}

void ThreadConditionWait(ThreadCondition* condition)
{
    // The mutex is recursive: pthread_cond_wait releases one level of it, so the caller
    // must hold it once, as with a critical section.
    pthread_cond_wait(&condition->m_Condition, OsMutex(condition->m_Mutex));
}

void ThreadConditionWakeOne(ThreadCondition* condition)
{
    pthread_cond_signal(&condition->m_Condition);
}

void ThreadConditionWakeAll(ThreadCondition* condition)
{
    pthread_cond_broadcast(&condition->m_Condition);
}
