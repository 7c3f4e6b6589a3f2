// The owning client's side of the kit: the set-up of the shared record from
// SProfilerInitParams, its tear-down, the thread-name service that names threads by what
// this module's thread layer or the OS knows of them, the name service that keeps the
// owner's copy of every scope name any module registers, and the capture that
// PROFILER_CAPTURE starts. Portable.
#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/hash/hash.h"
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

// ---- the name service, all under m_BigLock ----

// What the owner knows of one scope index: its texts in the order they came (several when
// texts share a hash), the static call sites of loaded modules that use it, and whether a
// run-time name uses it (those have no module to unload).
struct SIndexNames
{
    std::vector<const SProfilerKitName*> m_Texts;
    int32_t m_LiveSites = 0;
    bool m_Dynamic = false;
};
struct SNameTable
{
    std::unordered_map<uint32_t, SProfilerKitName*> m_ByHash;
    std::vector<SIndexNames> m_ByIndex;
};
// Made once and never destroyed: the library's descriptors and the call sites of every
// module point at these texts for the life of the process, also while modules run their
// static destructors at exit.
SNameTable& Names()
{
    static SNameTable* const s_Names = new SNameTable();
    return *s_Names;
}

// The kit's own conversion of a new descriptor's threshold: the library keeps whole
// milliseconds only, so the kit stores the exact tick count. A threshold beyond the 32-bit
// field is saturated there, with one warning per process, rather than timed against a
// wrapped value.
uint32_t ThresholdTicks(const char* text, float thresholdMs)
{
    const uint64_t frequency = GetCounterFrequency();
    const double ticks = static_cast<double>(thresholdMs) * static_cast<double>(frequency) / 1000.0;
    if (!(ticks > 0.0))
        return 0; // negative or NaN
    if (ticks < 4294967295.0)
        return static_cast<uint32_t>(ticks);
    uint32_t& warned = ProfilerKitHeader(GetProfiler())->m_Warned;
    if ((std::atomic_ref<uint32_t>(warned).fetch_or(PROFILER_KIT_WARNED_THRESHOLD) &
         PROFILER_KIT_WARNED_THRESHOLD) == 0)
        LogWrite(E_LOG_WARNING, "PROFILE", __FILE__, __LINE__,
                 "The threshold of %.3f ms of scope \"%s\" is beyond the %" PRIu64
                 " ms that a scope's tick field holds; such thresholds are saturated there",
                 static_cast<double>(thresholdMs), text,
                 static_cast<uint64_t>(UINT32_MAX) * 1000 / frequency);
    return UINT32_MAX;
}

const SProfilerKitName* AcquireName(const char* text, float thresholdMs, EProfilerKitNameUse use)
{
    PLATFORM_ASSERT(text != 0 && "a scope name is null");
    if (text == nullptr)
        return nullptr;
    SNameTable& names = Names();
    const uint32_t hash = HashString(text);
    const auto found = names.m_ByHash.find(hash);
    SProfilerKitName* const head = found != names.m_ByHash.end() ? found->second : nullptr;
    SProfilerKitName* name = head;
    while (name != nullptr && std::strcmp(name->m_Text, text) != 0)
        name = name->m_Next;
    if (name == nullptr)
    {
        // A text not seen before: the library finds its hash's index or makes a descriptor.
        SProfilerContext* context = GetProfiler();
        const size_t length = std::strlen(text);
        char* copy = new char[length + 1];
        std::memcpy(copy, text, length + 1);
        const int32_t before = context->m_NumScopes;
        int32_t slot = -1;
        const int32_t index = context->RegisterScope(&slot, copy, thresholdMs);
        if (index < 0)
        {
            delete[] copy;
            return nullptr;
        }
        if (context->m_NumScopes > before)
            context->m_Scopes[index].m_ThresholdTicks = ThresholdTicks(copy, thresholdMs);
        name = new SProfilerKitName{copy, hash, index, head};
        names.m_ByHash[hash] = name; // only texts that got an index stay
        if (names.m_ByIndex.size() <= static_cast<size_t>(index))
            names.m_ByIndex.resize(static_cast<size_t>(index) + 1);
        names.m_ByIndex[static_cast<size_t>(index)].m_Texts.push_back(name);
    }
    SIndexNames& entry = names.m_ByIndex[static_cast<size_t>(name->m_Index)];
    if (use == E_PROFILER_KIT_NAME_STATIC)
        ++entry.m_LiveSites;
    else
        entry.m_Dynamic = true;
    return name;
}

void ReleaseName(const SProfilerKitName* name)
{
    --Names().m_ByIndex[static_cast<size_t>(name->m_Index)].m_LiveSites;
}

bool ScopeText(int32_t index, ProfilerKitAppendFunc append, void* user)
{
    const SNameTable& names = Names();
    if (index < 0 || static_cast<size_t>(index) >= names.m_ByIndex.size() ||
        names.m_ByIndex[static_cast<size_t>(index)].m_Texts.empty())
        return false;
    const SIndexNames& entry = names.m_ByIndex[static_cast<size_t>(index)];
    const char* separator = "";
    for (const SProfilerKitName* name : entry.m_Texts)
    {
        append(separator, user);
        append(name->m_Text, user);
        separator = " | ";
    }
    if (entry.m_LiveSites == 0 && !entry.m_Dynamic)
        append(" (unloaded)", user);
    return true;
}

bool RegisterRecord(SProfilerStaticScope* record, uint32_t /*userValue*/)
{
    GetProfiler()->RegisterScope(&record->m_Index, record->m_Name, record->m_ThresholdMs);
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
    header->m_AcquireName = &AcquireName;
    header->m_ReleaseName = &ReleaseName;
    header->m_ScopeText = &ScopeText;

    // Last: a non-null lock tells every module that the fields above are complete. Records
    // that modules handed to the library themselves register now; kit modules' arrays are
    // empty, their call sites register at their first run.
    std::atomic_ref<ThreadMutex*>(context->m_BigLock).store(mutex, std::memory_order_release);
    CScopedMutexLock hold(mutex);
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

bool ProfilerKitScopeText(SProfilerContext* context, int32_t index, std::string* text)
{
    text->clear();
    ProfilerKitScopeTextFunc scopeText = ProfilerKitHeader(context)->m_ScopeText;
    return scopeText != nullptr && scopeText(
                                       index,
                                       [](const char* piece, void* user) {
                                           static_cast<std::string*>(user)->append(piece);
                                       },
                                       text);
}

bool ProfilerKitScopeName(int32_t index, char* buffer, size_t size)
{
    SProfilerKitSnapshot snapshot;
    if (buffer == nullptr || size == 0 || index < 0 || !ProfilerKitTakeSnapshot(&snapshot) ||
        static_cast<size_t>(index) >= snapshot.m_Scopes.size())
        return false;
    const std::string& name = snapshot.m_Scopes[static_cast<size_t>(index)].m_Name;
    const size_t copied = std::min(name.size(), size - 1);
    std::memcpy(buffer, name.data(), copied);
    buffer[copied] = '\0';
    return true;
}
