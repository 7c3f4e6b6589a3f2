// Sets a profiler context up the way its owning client does: allocator, capacities, first
// thread id and scope table first, the lock last with a release store.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "common/thread/mutex.h"
#include "profile/profilercontext.h"
#include "test_support.h"

class ProfilerTest : public testing::Test
{
protected:
    SProfilerContext* Context() { return GetProfiler(); }

    void Configure(int32_t scopeEntries = 64, uint32_t threadEntries = 4, int32_t firstId = 1)
    {
        m_Scopes.assign(scopeEntries > 0 ? size_t(scopeEntries) : 1, SProfilerScope{});
        SProfilerContext* context = Context();
        context->m_ProfilerAllocator = m_Allocator.Get();
        context->m_NumScopeEntries = scopeEntries;
        context->m_NumThreadEntries = threadEntries;
        context->m_FirstThreadID = firstId;
        context->m_Scopes = m_Scopes.data();
    }

    void InstallLock()
    {
        ThreadMutexInit(&m_Lock);
        std::atomic_ref<ThreadMutex*>(Context()->m_BigLock)
            .store(&m_Lock, std::memory_order_release);
    }

    void SetUpReady(int32_t scopeEntries = 64, uint32_t threadEntries = 4, int32_t firstId = 1)
    {
        Configure(scopeEntries, threadEntries, firstId);
        InstallLock();
    }

    int32_t NumThreads()
    {
        return std::atomic_ref<int32_t>(Context()->m_NumThreads).load(std::memory_order_acquire);
    }

    SCountingAllocator m_Allocator;
    std::vector<SProfilerScope> m_Scopes;
    ThreadMutex m_Lock;
};
