// The heap-made mutex: the caller-storage initialisation (per-OS) on storage of its own.
// Portable.
#include "common/thread/mutex.h"

#include <new>

ThreadMutex* ThreadMutexCreate()
{
    auto* mutex = static_cast<ThreadMutex*>(::operator new(sizeof(ThreadMutex)));
    ThreadMutexInit(mutex);
    mutex->m_Owned = 0;
    return mutex;
}
