// The blocking lock of the platform layer, recursive for its owner, and the holder that
// keeps it for one scope. Portable interface; the OS object lives in per-OS code.
#pragma once

#include <cstdint>

// The OS lock object (a critical section, or a recursive pthread mutex) is the first
// member, so a ThreadMutex's address is the OS object's address. Its storage is sized for
// both OSes at each pointer width; the per-OS code checks that its object fits.
struct ThreadMutex
{
    alignas(void*) unsigned char m_CriticalSection[sizeof(void*) == 4 ? 24 : 40];
    uint32_t m_Owned; // 1: caller's storage, never freed here; 0: made by ThreadMutexCreate
};

ThreadMutex* ThreadMutexCreate();
ThreadMutex* ThreadMutexInit(ThreadMutex* mutex);
void ThreadMutexDestroy(ThreadMutex* mutex);
bool ThreadMutexTryLock(ThreadMutex* mutex); // also true when the caller holds it already

// ThreadMutexLock and ThreadMutexUnlock: each OS's header declares or defines them (inline
// where that needs no more of the OS's interface than a C library header).
#include "platform/mutex_os.h"

// Locks for one scope and unlocks on every way out, exception unwinding included.
// The mutex must not be null.
class CScopedMutexLock
{
public:
    explicit CScopedMutexLock(ThreadMutex* mutex) : m_Mutex(mutex) { ThreadMutexLock(m_Mutex); }
    ~CScopedMutexLock() { ThreadMutexUnlock(m_Mutex); }
    CScopedMutexLock(const CScopedMutexLock&) = delete;
    CScopedMutexLock& operator=(const CScopedMutexLock&) = delete;

private:
    ThreadMutex* m_Mutex;
};
