// The owning client's side of the kit: the set-up of the shared record from
// SProfilerInitParams, its tear-down, the thread-name service that names threads by what
// this module's thread layer or the OS knows of them, and the capture that PROFILER_CAPTURE
// starts. Portable.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/debug/assert.h"
#include "common/thread/mutex.h"
#include "common/thread/thread.h"
#include "kit/kit_private.h"
#include "kit/profilerkit.h"

namespace
{

// What this module's ProfilerKitInit set up and what it replaced; the owner's alone. The
// scope table and the mutex stay after a shutdown: threads that are inside the kit at that
// moment may still read the one and wait for the other.
struct SProfilerKitOwner
{
    bool m_Active;
    ThreadMutex* m_Mutex;
    SProfilerScope* m_Scopes;
    SAllocator* m_Allocator;
    ProfilerGetThreadNameFunc m_PreviousGetThreadName;
    ProfilerThreadCreatedFunc m_PreviousOnThreadCreated;
    ProfilerThreadCreatedFunc m_OnThreadCreated; // the client's, called after the kit's part
};
SProfilerKitOwner s_Owner;

// The calling thread's name, kept per thread so that it stays valid for the caller.
thread_local char t_ThreadName[PROFILER_THREAD_NAME_LENGTH];

const char* KitGetThreadName()
{
    ThreadImpl* own = ThreadPeekCurrent();
    if (own != nullptr)
        return own->m_Name;
    if (ProfilerKitOsThreadName(t_ThreadName, sizeof(t_ThreadName)) && t_ThreadName[0] != '\0')
        return t_ThreadName;
    return THREAD_UNKNOWN_NAME;
}

uint32_t RoundUpToPowerOfTwo(uint32_t value)
{
    uint32_t result = 1;
    while (result < value)
        result <<= 1;
    return result;
}

// Under m_BigLock: a thread created while captures exist gets its capture ring before it
// can time a call.
void KitOnThreadCreated(uint32_t threadId, const char* name)
{
    ProfilerKitCaptureThreadCreated(threadId -
                                    static_cast<uint32_t>(GetProfiler()->m_FirstThreadID));
    if (s_Owner.m_OnThreadCreated != nullptr)
        s_Owner.m_OnThreadCreated(threadId, name);
}

bool RegisterRecord(SProfilerStaticScope* record, uint32_t /*userValue*/)
{
    GetProfiler()->RegisterScope(&record->m_Index, record->m_Name, record->m_ThresholdMs);
    ProfilerKitCheckThreshold(*record);
    return true; // a full table does not stop the walk
}

} // namespace

SProfilerInitParams::SProfilerInitParams()
    : m_Allocator(GetDefaultAllocator()), m_NumScopeEntries(256), m_NumThreadEntries(1024),
      m_FirstThreadID(1), m_OnThreadCreated(nullptr), m_NumCaptureEntries(65536)
{
}

bool ProfilerKitInit(const SProfilerInitParams& params)
{
    SProfilerContext* context = GetProfiler();
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    const bool fresh =
        ProfilerKitLoad(header->m_Magic) == 0 &&
        std::atomic_ref<ThreadMutex*>(context->m_BigLock).load(std::memory_order_acquire) ==
            nullptr;
    // The library's record is 32-byte aligned in practice; 64-bit atomics need 8.
    const bool aligned = reinterpret_cast<uintptr_t>(header) % 8 == 0;
    PLATFORM_ASSERT(aligned && "the kit header needs 8-byte alignment");
    PLATFORM_ASSERT(fresh && "the profiler context is set up already");
    PLATFORM_ASSERT(params.m_Allocator != 0 && "SProfilerInitParams is missing allocator!");
    PLATFORM_ASSERT(params.m_NumScopeEntries > 0 &&
                    params.m_NumScopeEntries <= PROFILER_KIT_MAX_SCOPES);
    PLATFORM_ASSERT(params.m_NumThreadEntries > 0 &&
                    params.m_NumThreadEntries <= PROFILER_KIT_MAX_THREAD_ENTRIES);
    PLATFORM_ASSERT(params.m_FirstThreadID >= 1 &&
                    params.m_FirstThreadID <= INT32_MAX - PROFILER_MAX_THREADS);
    PLATFORM_ASSERT(params.m_NumCaptureEntries >= 2 &&
                    params.m_NumCaptureEntries <= PROFILER_KIT_MAX_CAPTURE_ENTRIES);
    if (params.m_NumCaptureEntries < 2 ||
        params.m_NumCaptureEntries > PROFILER_KIT_MAX_CAPTURE_ENTRIES || !aligned || !fresh ||
        params.m_Allocator == nullptr || params.m_NumScopeEntries <= 0 ||
        params.m_NumScopeEntries > PROFILER_KIT_MAX_SCOPES || params.m_NumThreadEntries <= 0 ||
        params.m_NumThreadEntries > PROFILER_KIT_MAX_THREAD_ENTRIES || params.m_FirstThreadID < 1 ||
        params.m_FirstThreadID > INT32_MAX - PROFILER_MAX_THREADS)
        return false;

    SAllocator* allocator = params.m_Allocator;
    const uint32_t tableSize = static_cast<uint32_t>(params.m_NumScopeEntries) *
                               static_cast<uint32_t>(sizeof(SProfilerScope));
    void* table = allocator->m_Alloc(allocator, tableSize, 8);
    if (table == nullptr)
        return false;
    std::memset(table, 0, tableSize);
    ThreadMutex* mutex = ThreadMutexCreate();

    const uint32_t ringLength =
        RoundUpToPowerOfTwo(static_cast<uint32_t>(params.m_NumThreadEntries));
    const uint32_t scopeEntries = static_cast<uint32_t>(params.m_NumScopeEntries);
    const uint32_t countersOffset = ProfilerKitCountersOffset(scopeEntries);
    s_Owner = {true,
               mutex,
               static_cast<SProfilerScope*>(table),
               allocator,
               context->GetThreadName,
               context->m_OnThreadCreated,
               params.m_OnThreadCreated};
    ProfilerKitCaptureConfigure(
        allocator, RoundUpToPowerOfTwo(static_cast<uint32_t>(params.m_NumCaptureEntries)));

    context->m_ProfilerAllocator = allocator;
    context->m_NumScopeEntries = params.m_NumScopeEntries;
    context->m_NumThreadEntries = countersOffset + scopeEntries + ringLength;
    context->m_FirstThreadID = params.m_FirstThreadID;
    context->m_OnThreadCreated = &KitOnThreadCreated;
    context->GetThreadName = &KitGetThreadName;
    std::atomic_ref<SProfilerScope*>(context->m_Scopes)
        .store(s_Owner.m_Scopes, std::memory_order_relaxed);
    header->m_RingLength = ringLength;
    header->m_CountersOffset = countersOffset;
    header->m_RingOffset = countersOffset + scopeEntries;
    std::atomic_ref<uint32_t>(header->m_State).store(PROFILER_KIT_STATE_READY);
    std::atomic_ref<uint32_t>(header->m_Version).store(PROFILER_KIT_VERSION);
    std::atomic_ref<uint32_t>(header->m_Magic).store(PROFILER_KIT_MAGIC);
    std::atomic_ref<ProfilerKitLogFunc>(header->m_LogWrite).store(&ProfilerKitModuleLogWrite);

    // Last: a non-null lock tells every module that the fields above are complete.
    std::atomic_ref<ThreadMutex*>(context->m_BigLock).store(mutex, std::memory_order_release);
    context->ForEachModuleScope(&RegisterRecord, 0);
    // A capture with no change to the code: its failure is reported, the set-up stands.
    const char* capture = std::getenv("PROFILER_CAPTURE");
    if (capture != nullptr && capture[0] != '\0' && !ProfilerKitCaptureStart(capture, nullptr))
        LogWrite(E_LOG_ERROR, "PROFILE", __FILE__, __LINE__,
                 "PROFILER_CAPTURE: the capture to \"%s\" could not start", capture);
    return true;
}

void ProfilerKitShutdown()
{
    PLATFORM_ASSERT(s_Owner.m_Active && "ProfilerKitInit has not been run in this module!");
    if (!s_Owner.m_Active)
        return;
    SProfilerContext* context = GetProfiler();
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    ProfilerKitCaptureStop(); // completes the file of a capture still open

    // Timed calls stop recording first; forwarding goes before the owner's log can go; the
    // lock last. A thread that read the lock before it went may still take it, which is why
    // the mutex and the table it guards are never given back.
    std::atomic_ref<uint32_t>(header->m_State).store(PROFILER_KIT_STATE_SHUT_DOWN);
    std::atomic_ref<ProfilerKitLogFunc>(header->m_LogWrite).store(nullptr);
    std::atomic_ref<ThreadMutex*>(context->m_BigLock).store(nullptr, std::memory_order_release);
    {
        CScopedMutexLock drain(s_Owner.m_Mutex); // waits for a holder that took it before
        context->GetThreadName = s_Owner.m_PreviousGetThreadName;
        context->m_OnThreadCreated = s_Owner.m_PreviousOnThreadCreated;
    }
    s_Owner.m_Active = false;
}
