// The process-wide profiler context: the fixed-layout record that every module of the
// application reads through GetProfiler, its service table, and the records it holds.
// The layout is an interface between separately built modules. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/memory/allocator.h"
#include "common/thread/mutex.h"
#include "platform/export.h"
#include "profile/profilercontext_version.h"

constexpr int PROFILER_MAX_THREADS = 32;
constexpr int PROFILER_MAX_MODULES = 32;
constexpr uint32_t PROFILER_INVALID_THREAD_ID = 0xFFFFFFFFu;
constexpr uint32_t PROFILER_FLAG_OUT_OF_SCOPES_WARNED = 0x4;
constexpr int32_t PROFILER_SCOPE_TABLE_FULL = -1;
constexpr int32_t PROFILER_SCOPE_NOT_READY = -2;
constexpr size_t PROFILER_THREAD_NAME_LENGTH = 256;
constexpr size_t PROFILER_ENTRY_SIZE = 16; // bytes of one entry of either per-thread buffer

// One profiled thread. The two buffers are zero-filled at creation and belong to the
// client modules afterwards.
struct SProfilerThread
{
    void* m_ScopeEntries;  // m_NumScopeEntries entries of 16 bytes, alignment 8
    void* m_ThreadEntries; // m_NumThreadEntries entries of 16 bytes, alignment 8
    uint32_t m_ClientWord0;
    uint32_t m_ClientWord1;
    char m_Name[PROFILER_THREAD_NAME_LENGTH]; // at most 255 characters, NUL-terminated
    uint32_t m_ClientWord2;
    uint32_t m_ClientWord3; // never written by the library
};

// One scope descriptor of the client-owned table m_Scopes. The name is not copied.
struct SProfilerScope
{
    const char* m_Name;
    uint32_t m_NameHash;
    uint32_t m_ThresholdTicks; // low 32 bits of the threshold in counter ticks
};

// A module's static scope record. m_Index is the call site's index slot: negative until
// registered. A null m_Name ends the module's records.
struct SProfilerStaticScope
{
    int32_t m_Index;
    float m_ThresholdMs;
    const char* m_Name;
};

// A registered module's records, [m_Begin, m_End); identified by m_Begin.
struct SProfilerModule
{
    SProfilerStaticScope* m_Begin;
    SProfilerStaticScope* m_End;
};

typedef void (*ProfilerRegisterModuleFunc)(SProfilerStaticScope* begin, SProfilerStaticScope* end);
typedef void (*ProfilerUnregisterModuleFunc)(SProfilerStaticScope* begin);
typedef uint32_t (*ProfilerGetThreadIDFunc)();
typedef SProfilerThread* (*ProfilerGetThreadDataFunc)(int32_t id);
typedef uint32_t (*ProfilerPeekThreadIDFunc)();
typedef uint32_t (*ProfilerRegisterThreadFunc)(const char* name); // 1 on success, 0 on failure
typedef int32_t (*ProfilerRegisterScopeFunc)(int32_t* slot, const char* name, float thresholdMs);
typedef bool (*ProfilerModuleScopeCallback)(SProfilerStaticScope* scope, uint32_t userValue);
typedef void (*ProfilerForEachModuleScopeFunc)(ProfilerModuleScopeCallback callback,
                                               uint32_t userValue);
typedef uint32_t (*ProfilerCreateThreadDataFunc)(const char* name);
typedef const char* (*ProfilerGetThreadNameFunc)();
typedef void (*ProfilerThreadCreatedFunc)(uint32_t threadId, const char* name);

// The context record. Clients write the configuration fields (allocator, capacities, first
// thread id, scope table, optional callback) and install m_BigLock last: a non-null
// m_BigLock is the only sign that the context is ready.
struct SProfilerContext
{
    SAllocator* m_ProfilerAllocator;
    int32_t m_NumScopeEntries;
    uint32_t m_NumThreadEntries;
    int32_t m_NumThreads; // published with release order once a record is complete
    int32_t m_FirstThreadID;
    int32_t m_NumScopes;
    uint32_t m_Constructed;
    SProfilerThread m_Threads[PROFILER_MAX_THREADS];
    SProfilerScope* m_Scopes;
    uint8_t m_OpaqueBlock[131088]; // never touched by the library
    // Called under m_BigLock while the new record is not yet counted, like the allocator's
    // functions. Both may read the record table and call RegisterScope; a thread creation
    // they start on the same thread (CreateThreadData, RegisterThread, or GetThreadID and
    // GetThreadData of a thread without an id) fails with the failure values, and the
    // creating thread reads 0xFFFFFFFF as its id until the outer creation completes.
    ProfilerThreadCreatedFunc m_OnThreadCreated;
    uint32_t m_OpaqueWord; // never touched by the library
    uint32_t m_Flags;
    ThreadMutex* m_BigLock;

    // Service table, slots 1 to 10.
    ProfilerRegisterModuleFunc RegisterModule;
    ProfilerUnregisterModuleFunc UnregisterModule;
    ProfilerGetThreadIDFunc GetThreadID;
    ProfilerGetThreadDataFunc GetThreadData;
    ProfilerPeekThreadIDFunc PeekThreadID;
    ProfilerRegisterThreadFunc RegisterThread;
    ProfilerRegisterScopeFunc RegisterScope;
    ProfilerForEachModuleScopeFunc ForEachModuleScope;
    ProfilerCreateThreadDataFunc CreateThreadData;
    ProfilerGetThreadNameFunc GetThreadName;

    SProfilerModule m_ProfilerLoadedProfilerModules[PROFILER_MAX_MODULES];
    int32_t m_ProfilerNumLoadedModules;
};

// The one export: the address of the process-wide record, the same from every thread
// and module, valid as soon as the library is loaded.
extern "C" PROFILERCONTEXT_API SProfilerContext* GetProfiler();

// ---- the layout is an interface: pinned for both pointer widths ----
#define PROFILER_LAYOUT(type, field, offset32, offset64)                                           \
    static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (offset32) : (offset64)),         \
                  #type "::" #field " moved")
#define PROFILER_SIZE(type, size32, size64)                                                        \
    static_assert(sizeof(type) == (sizeof(void*) == 4 ? (size32) : (size64)), #type " changed "    \
                                                                                    "size")

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "4- or 8-byte pointers only");

PROFILER_SIZE(SAllocator, 8, 16);
PROFILER_LAYOUT(SAllocator, m_Alloc, 0, 0);
PROFILER_LAYOUT(SAllocator, m_Free, 4, 8);

PROFILER_SIZE(SProfilerThread, 280, 288);
PROFILER_LAYOUT(SProfilerThread, m_ScopeEntries, 0, 0);
PROFILER_LAYOUT(SProfilerThread, m_ThreadEntries, 4, 8);
PROFILER_LAYOUT(SProfilerThread, m_ClientWord0, 8, 16);
PROFILER_LAYOUT(SProfilerThread, m_ClientWord1, 12, 20);
PROFILER_LAYOUT(SProfilerThread, m_Name, 16, 24);
PROFILER_LAYOUT(SProfilerThread, m_ClientWord2, 272, 280);
PROFILER_LAYOUT(SProfilerThread, m_ClientWord3, 276, 284);

PROFILER_SIZE(SProfilerScope, 12, 16);
PROFILER_LAYOUT(SProfilerScope, m_Name, 0, 0);
PROFILER_LAYOUT(SProfilerScope, m_NameHash, 4, 8);
PROFILER_LAYOUT(SProfilerScope, m_ThresholdTicks, 8, 12);

PROFILER_SIZE(SProfilerStaticScope, 12, 16);
PROFILER_LAYOUT(SProfilerStaticScope, m_Index, 0, 0);
PROFILER_LAYOUT(SProfilerStaticScope, m_ThresholdMs, 4, 4);
PROFILER_LAYOUT(SProfilerStaticScope, m_Name, 8, 8);

PROFILER_SIZE(SProfilerModule, 8, 16);
PROFILER_LAYOUT(SProfilerModule, m_Begin, 0, 0);
PROFILER_LAYOUT(SProfilerModule, m_End, 4, 8);

PROFILER_SIZE(SProfilerContext, 140396, 140968);
PROFILER_LAYOUT(SProfilerContext, m_ProfilerAllocator, 0, 0);
PROFILER_LAYOUT(SProfilerContext, m_NumScopeEntries, 4, 8);
PROFILER_LAYOUT(SProfilerContext, m_NumThreadEntries, 8, 12);
PROFILER_LAYOUT(SProfilerContext, m_NumThreads, 12, 16);
PROFILER_LAYOUT(SProfilerContext, m_FirstThreadID, 16, 20);
PROFILER_LAYOUT(SProfilerContext, m_NumScopes, 20, 24);
PROFILER_LAYOUT(SProfilerContext, m_Constructed, 24, 28);
PROFILER_LAYOUT(SProfilerContext, m_Threads, 28, 32);
PROFILER_LAYOUT(SProfilerContext, m_Scopes, 8988, 9248);
PROFILER_LAYOUT(SProfilerContext, m_OpaqueBlock, 8992, 9256);
PROFILER_LAYOUT(SProfilerContext, m_OnThreadCreated, 140080, 140344);
PROFILER_LAYOUT(SProfilerContext, m_OpaqueWord, 140084, 140352);
PROFILER_LAYOUT(SProfilerContext, m_Flags, 140088, 140356);
PROFILER_LAYOUT(SProfilerContext, m_BigLock, 140092, 140360);
PROFILER_LAYOUT(SProfilerContext, RegisterModule, 140096, 140368);
PROFILER_LAYOUT(SProfilerContext, UnregisterModule, 140100, 140376);
PROFILER_LAYOUT(SProfilerContext, GetThreadID, 140104, 140384);
PROFILER_LAYOUT(SProfilerContext, GetThreadData, 140108, 140392);
PROFILER_LAYOUT(SProfilerContext, PeekThreadID, 140112, 140400);
PROFILER_LAYOUT(SProfilerContext, RegisterThread, 140116, 140408);
PROFILER_LAYOUT(SProfilerContext, RegisterScope, 140120, 140416);
PROFILER_LAYOUT(SProfilerContext, ForEachModuleScope, 140124, 140424);
PROFILER_LAYOUT(SProfilerContext, CreateThreadData, 140128, 140432);
PROFILER_LAYOUT(SProfilerContext, GetThreadName, 140132, 140440);
PROFILER_LAYOUT(SProfilerContext, m_ProfilerLoadedProfilerModules, 140136, 140448);
PROFILER_LAYOUT(SProfilerContext, m_ProfilerNumLoadedModules, 140392, 140960);

#undef PROFILER_LAYOUT
#undef PROFILER_SIZE
