// Uses the installed headers and libraries: the shared record through GetProfiler, the
// platform layer linked into this module, and the client kit timing one scope.
#include <cstdio>

#include "common/hash/hash.h"
#include "common/thread/mutex.h"
#include "kit/profilerkit.h"
#include "kit/profilerkit_layout.h"
#include "profile/profilercontext.h"

static void Timed()
{
    PROFILE_SCOPE("Package::Timed", 0);
}

int main()
{
    ThreadMutex* mutex = ThreadMutexCreate();
    const bool locked = ThreadMutexTryLock(mutex);
    ThreadMutexUnlock(mutex);
    ThreadMutexDestroy(mutex);
    const bool kit = ProfilerKitInit(SProfilerInitParams());
    Timed();
    const auto* entries =
        static_cast<SProfilerKitScopeEntry*>(GetProfiler()->m_Threads[0].m_ScopeEntries);
    const bool ok = GetProfiler()->m_Constructed == 1 && HashString("abc") == 0x0E397631u &&
                    locked && kit && entries[0].m_Calls == 1 && ProfilerKitReport(stdout);
    std::puts(ok ? "package client: ok" : "package client: FAILED");
    return ok ? 0 : 1;
}
