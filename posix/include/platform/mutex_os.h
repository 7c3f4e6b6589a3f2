// The mutex's lock and unlock on POSIX, inline in every caller: the recursive pthread mutex
// sits at the start of the ThreadMutex record, so each is one call into the C library, as
// with std::recursive_mutex. Per-OS; included by common/thread/mutex.h.
#pragma once

#include <pthread.h>

#include "common/debug/assert.h"

inline void ThreadMutexLock(ThreadMutex* mutex)
{
    const int result =
        pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(mutex->m_CriticalSection));
    PLATFORM_ASSERT(result == 0);
}

inline void ThreadMutexUnlock(ThreadMutex* mutex)
{
    const int result =
        pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(mutex->m_CriticalSection));
    PLATFORM_ASSERT(result == 0);
}
