// A client module's first look at the shared profiler context: where the record is, how
// large, whether construction ran, which service-table slots are filled, and the calling
// thread's name as the library's thread layer reports it.
#include <cstdio>

#include "profile/profilercontext.h"

int main()
{
    SProfilerContext* context = GetProfiler();
    std::printf("profiler context at %p, %zu bytes (%zu-bit layout)\n", static_cast<void*>(context),
                sizeof(SProfilerContext), sizeof(void*) * 8);
    std::printf("constructed: %u, lock installed: %s, modules: %d, threads: %d, scopes: %d\n",
                context->m_Constructed, context->m_BigLock != nullptr ? "yes" : "no",
                context->m_ProfilerNumLoadedModules, context->m_NumThreads, context->m_NumScopes);

    const struct
    {
        const char* m_Name;
        const void* m_Function;
    } slots[] = {
        {"RegisterModule", reinterpret_cast<const void*>(context->RegisterModule)},
        {"UnregisterModule", reinterpret_cast<const void*>(context->UnregisterModule)},
        {"GetThreadID", reinterpret_cast<const void*>(context->GetThreadID)},
        {"GetThreadData", reinterpret_cast<const void*>(context->GetThreadData)},
        {"PeekThreadID", reinterpret_cast<const void*>(context->PeekThreadID)},
        {"RegisterThread", reinterpret_cast<const void*>(context->RegisterThread)},
        {"RegisterScope", reinterpret_cast<const void*>(context->RegisterScope)},
        {"ForEachModuleScope", reinterpret_cast<const void*>(context->ForEachModuleScope)},
        {"CreateThreadData", reinterpret_cast<const void*>(context->CreateThreadData)},
        {"GetThreadName", reinterpret_cast<const void*>(context->GetThreadName)},
    };
    int slot = 1;
    for (const auto& entry : slots)
        std::printf("slot %2d %-18s %s\n", slot++, entry.m_Name,
                    entry.m_Function != nullptr ? "filled" : "EMPTY");

    std::printf("this thread's name (slot 10): \"%s\"\n", context->GetThreadName());
    std::printf("this thread's profiler id before registration: %u\n", context->PeekThreadID());
    return 0;
}
