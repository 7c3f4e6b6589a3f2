// The checks of binding a thread to processors, around the OS's side of it (platform/os.h).
// Portable; reading masks and the process's mask live in the per-OS thread unit.
#include "common/thread/affinity.h"

#include "common/debug/assert.h"
#include "platform/os.h"

void ThreadSetAffinity(ThreadImpl* thread, uint64_t affinity_mask, int32_t ideal_proc)
{
    PLATFORM_ASSERT(affinity_mask != 0);
    PLATFORM_ASSERT(ideal_proc == THREAD_AFFINITY_IDEAL_PROCESSOR_ANY ||
                    (ideal_proc >= 0 && ideal_proc <= 63));

    // A thread may only take processors of its process; bits beyond the OS mask's width
    // drop out here.
    affinity_mask &= ThreadGetProcessAffinity();
    PLATFORM_ASSERT(affinity_mask != 0);

    uint64_t prev_mask = OsThreadSetAffinityMask(thread, affinity_mask);
    PLATFORM_ASSERT(prev_mask != 0);

    if (ideal_proc != THREAD_AFFINITY_IDEAL_PROCESSOR_ANY)
    {
        int ret = OsThreadSetIdealProcessor(thread, ideal_proc);
        PLATFORM_ASSERT(ret != -1);
    }
}
