// Spinlocks, lazily allocated thread-local globals, sleeping and yielding: the lowest
// layer of the threading library, on which the profiler, the thread objects and the log
// rest. Portable; the OS slot and sleep calls come through platform/os.h.
#pragma once

#include <cstdint>

// ---- spinlock ----

// Lock word 0 is free and 1 is held, so zero-filled storage is a free lock.
// m_Owned is 1 for a spinlock initialised in caller storage, 0 for one on the heap.
struct ThreadSpinlockImpl
{
    int32_t m_Lock;
    uint32_t m_Owned;
};

// Opaque storage that callers embed in their own records.
struct ThreadSpinlockData
{
    alignas(4) unsigned char m_Storage[8];
};

ThreadSpinlockData* ThreadSpinlockCreate();
ThreadSpinlockData* ThreadSpinlockInit(ThreadSpinlockData* spinlock);
void ThreadSpinlockDestroy(ThreadSpinlockData* spinlock);
void ThreadSpinlockLock(ThreadSpinlockData* spinlock);
bool ThreadSpinlockTryLock(ThreadSpinlockData* spinlock);
void ThreadSpinlockUnlock(ThreadSpinlockData* spinlock);

// Operations on a bare lock word in static storage (the guards of thread-local globals).
// Every exchange is sequentially consistent; release is a release store, init an exchange
// and a full fence.
void ThreadLockWordInit(int32_t* word);
bool ThreadLockWordTryAcquire(int32_t* word);
void ThreadLockWordAcquire(int32_t* word);
void ThreadLockWordRelease(int32_t* word);

// ---- thread-local globals ----

// A thread-local global is two static words: the OS slot index (0xFFFFFFFF until the
// first access allocates it) and the guard spinlock taken only around that allocation.
#define TLS_GLOBAL_DECLARE(name)                                                                   \
    extern uint32_t name##_slot;                                                                   \
    extern int32_t name##_guard
#define TLS_GLOBAL_DEFINE(name)                                                                    \
    uint32_t name##_slot = 0xFFFFFFFFu;                                                            \
    int32_t name##_guard = 0
#define TLS_GLOBAL_GET_UINTPTR(name) TlsGlobalGet(&name##_guard, &name##_slot)
#define TLS_GLOBAL_SET_UINTPTR(name, value)                                                        \
    TlsGlobalSet(&name##_guard, &name##_slot, (uintptr_t)(value))

// A thread that never stored a value reads 0; so does every thread while no OS slot
// could be allocated (the next access tries again).
uintptr_t TlsGlobalGet(int32_t* guard, uint32_t* slot);
void TlsGlobalSet(int32_t* guard, uint32_t* slot, uintptr_t value);
// The value without allocating the slot: 0 while no thread has stored one.
uintptr_t TlsGlobalPeek(const uint32_t* slot);

// ---- sleep and yield ----

// 0 returns at once without any OS call; other values sleep alertably.
void ThreadSleep(uint32_t milliseconds);
void ThreadYield();

// ---- spin policy and seams ----

// The acquire loop of every spinlock: no pause and no back-off; the thread yields once
// after every 101 consecutive failed attempts. A template so that tests can drive it with
// their own try and yield without a cost for the real lock.
template <typename TryAcquire, typename Yield>
inline void ThreadSpinAcquire(TryAcquire tryAcquire, Yield yield)
{
    uint32_t failures = 0;
    while (!tryAcquire())
    {
        if (++failures > 100)
        {
            yield();
            failures = 0;
        }
    }
}

// The one-time slot allocation of a thread-local global goes through here, so tests can
// count and fail it; reached only while a slot is unallocated. Default: OsTlsAlloc.
struct SThreadSeams
{
    uint32_t (*m_TlsAlloc)();
};
extern SThreadSeams g_ThreadSeams;
