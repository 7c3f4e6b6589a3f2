// The process-wide profiler context: static construction of the record, the export, and
// the registries of threads, scopes and shared modules behind the service table. Portable.
#include "profile/profilercontext.h"
#include "profilercontext_internal.h"

#include <atomic>
#include <cstring>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/hash/hash.h"
#include "common/thread/synchronization.h"
#include "common/thread/thread.h"
#include "common/time/counter.h"

// The threshold conversion must give the double-precision result: x87 excess precision
// makes it one tick off in about half of the cases, so 32-bit x86 builds need SSE2 doubles.
#if defined(__GNUC__) && defined(__i386__) && !defined(__SSE2_MATH__)
#error "build 32-bit x86 with -msse2 -mfpmath=sse"
#endif

typedef uint32_t uint32; // the spelling of the library's assertion texts

// Zero-initialised data: everything that construction does not set starts as zero.
SProfilerContext g_ProfilerContext;

// The calling thread's profiler thread id: 0 before registration, 0xFFFFFFFF after a
// failed one.
TLS_GLOBAL_DEFINE(g_profiler_this_thread_id);

namespace
{

SProfilerContext& g_Ctx = g_ProfilerContext;

// The owner installs m_BigLock last, after the configuration fields; the acquire load
// pairs with its release store so those fields are visible once the lock is seen.
ThreadMutex* BigLock()
{
    return std::atomic_ref<ThreadMutex*>(g_Ctx.m_BigLock).load(std::memory_order_acquire);
}

// The value of the calling thread's slot as last stored and read back, kept beside the
// slot so that the registered path reads one thread-local word instead of going through
// the slot layer and the OS. Every store of the slot goes through StoreThisThreadId.
PROFILER_TLS_MODEL constinit thread_local uint32_t t_ThisThreadId = 0;

uint32_t ThisThreadId()
{
    return t_ThisThreadId;
}

// The slot keeps what it can: a thread whose slot could not be allocated reads 0.
void StoreThisThreadId(uint32_t id)
{
    TLS_GLOBAL_SET_UINTPTR(g_profiler_this_thread_id, id);
    t_ThisThreadId = static_cast<uint32_t>(TLS_GLOBAL_GET_UINTPTR(g_profiler_this_thread_id));
}

// True while a thread record is being built. Only the thread that holds m_BigLock reads or
// writes it, so a true value seen under the lock means the holder itself came back in,
// from its allocator or its creation callback, while its record is unclaimed.
bool g_CreatingThreadRecord = false;

// The record for an index, or null outside the 32 records: never a pointer past m_Threads.
SProfilerThread* ThreadRecord(int64_t index)
{
    if (index < 0 || index >= PROFILER_MAX_THREADS)
        return nullptr;
    return &g_Ctx.m_Threads[index];
}

// Bytes of a per-thread buffer of count 16-byte entries; false when the count is negative
// or its size does not fit the allocator's 32-bit size.
bool EntryBufferSize(int64_t count, uint32_t* size)
{
    if (count < 0 || count > static_cast<int64_t>(UINT32_MAX / PROFILER_ENTRY_SIZE))
        return false;
    *size = static_cast<uint32_t>(count * static_cast<int64_t>(PROFILER_ENTRY_SIZE));
    return true;
}

void* AllocZeroedEntries(int64_t count)
{
    uint32_t size;
    if (!EntryBufferSize(count, &size))
        return nullptr;
    SAllocator* allocator = g_Ctx.m_ProfilerAllocator;
    void* block = allocator->m_Alloc(allocator, size, 8);
    if (block != nullptr)
        std::memset(block, 0, size);
    return block;
}

} // namespace

// ---- thread registry ----

// The allocator and m_OnThreadCreated run under m_BigLock while record i is still unclaimed.
// A creation that they start on the same thread (directly, or through RegisterThread,
// GetThreadID or GetThreadData) fails with the failure values and leaves the record and the
// count to the outer creation; they may read the record table and call the scope registry.
static uint32_t CreateThreadData(const char* name)
{
    ThreadMutex* lock = BigLock();
    if (lock == nullptr)
        return PROFILER_INVALID_THREAD_ID;
    CScopedMutexLock hold(lock);

    PLATFORM_ASSERT(name != nullptr);
    const int32_t index = g_Ctx.m_NumThreads;
    if (name == nullptr || index >= PROFILER_MAX_THREADS || g_CreatingThreadRecord)
        return PROFILER_INVALID_THREAD_ID;
    g_CreatingThreadRecord = true;
    struct CCreationEnd
    {
        ~CCreationEnd() { g_CreatingThreadRecord = false; }
    } creationEnd;

    SProfilerThread& record = g_Ctx.m_Threads[index];
    record.m_ClientWord1 = 0;
    record.m_ClientWord0 = 0;
    std::strncpy(record.m_Name, name, PROFILER_THREAD_NAME_LENGTH - 1);
    record.m_ClientWord2 = 0;

    record.m_ScopeEntries = AllocZeroedEntries(g_Ctx.m_NumScopeEntries);
    if (record.m_ScopeEntries == nullptr)
        return PROFILER_INVALID_THREAD_ID;
    record.m_ThreadEntries = AllocZeroedEntries(g_Ctx.m_NumThreadEntries);
    if (record.m_ThreadEntries == nullptr)
    {
        SAllocator* allocator = g_Ctx.m_ProfilerAllocator;
        allocator->m_Free(allocator, record.m_ScopeEntries);
        record.m_ScopeEntries = nullptr;
        return PROFILER_INVALID_THREAD_ID;
    }

    // Ids are unsigned: the sum of index and first id never overflows a signed type.
    const uint32_t id = static_cast<uint32_t>(index) + static_cast<uint32_t>(g_Ctx.m_FirstThreadID);
    if (g_Ctx.m_OnThreadCreated != nullptr)
        g_Ctx.m_OnThreadCreated(id, record.m_Name);

    // Readers that see the new count without the lock see the complete record.
    std::atomic_ref<int32_t>(g_Ctx.m_NumThreads).store(index + 1, std::memory_order_release);
    return id;
}

static uint32_t RegisterThread(const char* name)
{
    if (BigLock() == nullptr)
        return 0;
    PLATFORM_ASSERT(TLS_GLOBAL_GET_UINTPTR(g_profiler_this_thread_id) <
                    (uint32)g_ProfilerContext.m_FirstThreadID);
    // The slot holds the failure marker while the record is built. That proves the slot
    // can hold an id before any record is used up (no OS slot: fail, create nothing), and
    // a lookup that the allocator or the creation callback makes on this thread finds a
    // failed thread instead of starting a creation of its own.
    StoreThisThreadId(PROFILER_INVALID_THREAD_ID);
    if (ThisThreadId() != PROFILER_INVALID_THREAD_ID)
        return 0;
    StoreThisThreadId(CreateThreadData(name));
    const uint32_t stored = ThisThreadId();
    return stored != PROFILER_INVALID_THREAD_ID &&
                   stored >= static_cast<uint32_t>(g_Ctx.m_FirstThreadID)
               ? 1
               : 0;
}

static uint32_t PeekThreadID()
{
    return ThisThreadId();
}

static SProfilerThread* GetThreadData(int32_t id)
{
    const int32_t first = g_Ctx.m_FirstThreadID;
    if (id >= first)
        return ThreadRecord(static_cast<int64_t>(id) - first);

    ProfilerGetThreadNameFunc getName = g_Ctx.GetThreadName;
    const char* name = getName != nullptr ? getName() : nullptr;
    if (name == nullptr)
        name = "Unknown Thread";
    uint32_t ret = RegisterThread(name);
    PLATFORM_ASSERT(ret == 1);
    return ThreadRecord(static_cast<int64_t>(ThisThreadId()) - first);
}

static uint32_t GetThreadID()
{
    // The registered path is one slot read and one comparison.
    uint32_t id = ThisThreadId();
    if (id < static_cast<uint32_t>(g_Ctx.m_FirstThreadID))
    {
        GetThreadData(0);
        id = ThisThreadId();
    }
    return id;
}

// ---- scope registry ----

// A descriptor's name changes while other threads read the table (a report, a call site of
// another module), so it is always published with one atomic store.
static void PublishScopeName(SProfilerScope& scope, const char* name)
{
    std::atomic_ref<const char*>(scope.m_Name).store(name, std::memory_order_release);
}

static const char* ReadScopeName(SProfilerScope& scope)
{
    return std::atomic_ref<const char*>(scope.m_Name).load(std::memory_order_acquire);
}

// A scope threshold in counter ticks, as RegisterScope stores it: the milliseconds
// truncated toward zero to a whole number W, W x frequency in wrapping 64-bit arithmetic,
// read unsigned, divided by 1000.0 in double precision, truncated, low 32 bits kept.
// NaN counts as 0 ms; values beyond the signed 64-bit range saturate first.
uint32_t ProfilerThresholdToTicks(float thresholdMs, uint64_t frequency)
{
    int64_t wholeMs;
    if (!(thresholdMs == thresholdMs))
        wholeMs = 0;
    else if (thresholdMs >= 9223372036854775808.0f)
        wholeMs = INT64_MAX;
    else if (thresholdMs < -9223372036854775808.0f)
        wholeMs = INT64_MIN;
    else
        wholeMs = static_cast<int64_t>(thresholdMs);
    uint64_t product = static_cast<uint64_t>(wholeMs) * frequency;
    double quotient = static_cast<double>(product) / 1000.0;
    return static_cast<uint32_t>(static_cast<uint64_t>(quotient));
}

static void WarnOutOfScopeEntries()
{
    std::atomic_ref<uint32_t> flags(g_Ctx.m_Flags);
    if ((flags.fetch_or(PROFILER_FLAG_OUT_OF_SCOPES_WARNED) & PROFILER_FLAG_OUT_OF_SCOPES_WARNED) !=
        0)
        return;
    LogWrite(E_LOG_WARNING, "PROFILE", __FILE__, __LINE__,
             "The profiler is out of scope entries. %d entries are allocated, given by "
             "SProfilerInitParams()",
             g_Ctx.m_NumScopeEntries);
}

static int32_t RegisterScope(int32_t* slot, const char* name, float thresholdMs)
{
    ThreadMutex* lock = BigLock();
    if (lock == nullptr)
        return PROFILER_SCOPE_NOT_READY;
    PLATFORM_ASSERT(slot != nullptr);
    if (slot == nullptr)
        return PROFILER_SCOPE_TABLE_FULL; // no index can be given without a slot
    CScopedMutexLock hold(lock);

    // Call sites may test their slot without the lock; they see only whole indices.
    std::atomic_ref<int32_t> cached(*slot);
    const int32_t known = cached.load(std::memory_order_acquire);
    if (known >= 0)
        return known;

    const uint32_t hash = HashString(name);
    const int32_t count = g_Ctx.m_NumScopes;
    SProfilerScope* scopes = g_Ctx.m_Scopes;
    for (int32_t i = 0; i < count; ++i)
    {
        if (scopes[i].m_NameHash == hash)
        {
            PublishScopeName(scopes[i], name); // the newest text wins
            cached.store(i, std::memory_order_release);
            return i;
        }
    }

    if (count >= g_Ctx.m_NumScopeEntries)
    {
        WarnOutOfScopeEntries();
        return PROFILER_SCOPE_TABLE_FULL;
    }

    PublishScopeName(scopes[count], name);
    scopes[count].m_NameHash = hash;
    scopes[count].m_ThresholdTicks = ProfilerThresholdToTicks(thresholdMs, GetCounterFrequency());
    std::atomic_ref<int32_t>(g_Ctx.m_NumScopes).store(count + 1, std::memory_order_release);
    cached.store(count, std::memory_order_release);
    return count;
}

// ---- shared module registry ----

// Visits a module's records up to its end or its first null name; a false result from
// the callback leaves this module only.
static void WalkModule(const SProfilerModule& module, ProfilerModuleScopeCallback callback,
                       uint32_t userValue)
{
    for (SProfilerStaticScope* record = module.m_Begin;
         record < module.m_End && record->m_Name != nullptr; ++record)
    {
        if (!callback(record, userValue))
            break;
    }
}

static void ForEachModuleScope(ProfilerModuleScopeCallback callback, uint32_t userValue)
{
    PLATFORM_ASSERT(callback != nullptr);
    if (callback == nullptr)
        return;
    // The count is read again before each module, and each module is walked from a copy of
    // its entry: a callback that unregisters the module moves another entry into its place.
    for (int32_t i = 0; i < g_Ctx.m_ProfilerNumLoadedModules; ++i)
    {
        const SProfilerModule module = g_Ctx.m_ProfilerLoadedProfilerModules[i];
        WalkModule(module, callback, userValue);
    }
}

static bool RegisterModuleRecord(SProfilerStaticScope* record, uint32_t /*userValue*/)
{
    // A full table (-1) does not stop the walk; such records keep their negative index.
    RegisterScope(&record->m_Index, record->m_Name, record->m_ThresholdMs);
    return true;
}

// Gives descriptor v the name of the same scope in a module that is still registered.
static bool RepointScopeName(SProfilerStaticScope* record, uint32_t scopeIndex)
{
    if (record->m_Index != static_cast<int32_t>(scopeIndex))
        return true;
    PLATFORM_ASSERT(g_ProfilerContext.m_BigLock != 0x0);
    PublishScopeName(g_Ctx.m_Scopes[scopeIndex], record->m_Name);
    return false;
}

static bool ReleaseModuleRecord(SProfilerStaticScope* record, uint32_t /*userValue*/)
{
    const int32_t count = g_Ctx.m_NumScopes;
    for (int32_t v = 0; v < count; ++v)
    {
        if (ReadScopeName(g_Ctx.m_Scopes[v]) == record->m_Name)
        {
            PublishScopeName(g_Ctx.m_Scopes[v], nullptr);
            ForEachModuleScope(&RepointScopeName, static_cast<uint32_t>(v));
            break;
        }
    }
    return true;
}

static void RegisterModule(SProfilerStaticScope* begin, SProfilerStaticScope* end)
{
    // clang-format off
    PLATFORM_ASSERT(g_ProfilerContext.m_ProfilerNumLoadedModules < (int)ARRAY_LENGTH( g_ProfilerContext.m_ProfilerLoadedProfilerModules ) && "to many shared modules loaded!");
    // clang-format on
    PLATFORM_ASSERT(begin != nullptr && "a module needs its records");
    const int32_t count = g_Ctx.m_ProfilerNumLoadedModules;
    if (count < 0 || count >= PROFILER_MAX_MODULES || begin == nullptr)
        return; // no free entry, or no module to identify: nothing is written

    const SProfilerModule module = {begin, end};
    g_Ctx.m_ProfilerNumLoadedModules = count + 1;
    g_Ctx.m_ProfilerLoadedProfilerModules[count] = module;
    if (BigLock() == nullptr)
        return; // recorded only; a walk registers the scopes once the context is ready
    WalkModule(module, &RegisterModuleRecord, 0);
}

static void UnregisterModule(SProfilerStaticScope* begin)
{
    int32_t found = 0;
    while (found < g_Ctx.m_ProfilerNumLoadedModules &&
           g_Ctx.m_ProfilerLoadedProfilerModules[found].m_Begin != begin)
        ++found;
    PLATFORM_ASSERT(found < g_ProfilerContext.m_ProfilerNumLoadedModules &&
                    "module not in loaded-list!!!");
    if (found >= g_Ctx.m_ProfilerNumLoadedModules)
        return; // unknown module: nothing to remove, no name to release

    const SProfilerModule removed = g_Ctx.m_ProfilerLoadedProfilerModules[found];
    const int32_t last = --g_Ctx.m_ProfilerNumLoadedModules;
    g_Ctx.m_ProfilerLoadedProfilerModules[found] = g_Ctx.m_ProfilerLoadedProfilerModules[last];
    if (BigLock() == nullptr)
        return;
    WalkModule(removed, &ReleaseModuleRecord, 0);
}

// ---- construction and export ----

namespace
{

// The library's first static initialiser: fills what the zero-initialised record does not
// hold already. No destructor: nothing is undone when the library is unloaded.
struct CProfilerContextConstruction
{
    CProfilerContextConstruction()
    {
        for (SProfilerModule& module : g_Ctx.m_ProfilerLoadedProfilerModules)
            module = {nullptr, nullptr};
        g_Ctx.m_ProfilerNumLoadedModules = 0;
        g_Ctx.m_BigLock = nullptr;
        g_Ctx.RegisterModule = &::RegisterModule;
        g_Ctx.UnregisterModule = &::UnregisterModule;
        g_Ctx.GetThreadID = &::GetThreadID;
        g_Ctx.GetThreadData = &::GetThreadData;
        g_Ctx.PeekThreadID = &::PeekThreadID;
        g_Ctx.RegisterThread = &::RegisterThread;
        g_Ctx.RegisterScope = &::RegisterScope;
        g_Ctx.ForEachModuleScope = &::ForEachModuleScope;
        g_Ctx.CreateThreadData = &::CreateThreadData;
        g_Ctx.GetThreadName = &ThreadGetCurrentName;
        g_Ctx.m_Constructed = 1;
    }
} s_ProfilerContextConstruction;

} // namespace

extern "C" PROFILERCONTEXT_API SProfilerContext* GetProfiler()
{
    return &g_ProfilerContext;
}
