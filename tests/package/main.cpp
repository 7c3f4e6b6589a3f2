// Uses the installed headers and both installed libraries: the shared record through
// GetProfiler, and the platform layer linked into this module.
#include <cstdio>

#include "common/hash/hash.h"
#include "common/thread/mutex.h"
#include "profile/profilercontext.h"

int main()
{
    ThreadMutex* mutex = ThreadMutexCreate();
    const bool locked = ThreadMutexTryLock(mutex);
    ThreadMutexUnlock(mutex);
    ThreadMutexDestroy(mutex);
    const bool ok = GetProfiler()->m_Constructed == 1 && HashString("abc") == 0x0E397631u && locked;
    std::puts(ok ? "package client: ok" : "package client: FAILED");
    return ok ? 0 : 1;
}
