// The kit's part in every module that uses the scope macro: the module's registration at
// load and withdrawal at unload, the slow paths of a call site and of a thread, the
// recording of one call, frame marks, and the forwarding of this module's log lines to
// the owner's log. The macro references this unit, so the linker pulls it (and with it the
// registrar) into each such module. Portable.
#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/thread/thread.h"
#include "kit/kit_private.h"
#include "kit/profilerkit.h"

constinit thread_local SProfilerThread* g_ProfilerKitThread = nullptr;

namespace
{

// Set when this module met a kit header of another version; the module then stays idle.
std::atomic<bool> s_Refused{false};

SProfilerContext* Context()
{
    static SProfilerContext* const s_Context = GetProfiler();
    return s_Context;
}

bool Ready(SProfilerContext* context)
{
    return std::atomic_ref<ThreadMutex*>(context->m_BigLock).load(std::memory_order_acquire) !=
           nullptr;
}

// Hands this module's lines to the owner while this module's log is uninitialised; never
// to itself, so the owner's own uninitialised log takes its plain path.
bool ForwardLog(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
                const char* format, va_list args)
{
    SProfilerKitHeader* header = ProfilerKitHeader(Context());
    ProfilerKitLogFunc entry =
        std::atomic_ref<ProfilerKitLogFunc>(header->m_LogWrite).load(std::memory_order_acquire);
    if (entry == nullptr || entry == &ProfilerKitModuleLogWrite ||
        !ProfilerKitHeaderMatches(Context()))
        return false;
    char text[1024];
    if (std::vsnprintf(text, sizeof(text), format, args) < 0)
        text[0] = '\0';
    entry(severity, channel, file, line, text);
    return true;
}

// Registers the module's records when it loads and withdraws them when it unloads. A
// module that meets another kit version at load stays out of the context.
struct CProfilerKitModule
{
    CProfilerKitModule()
    {
        ProfilerKitModuleRecords(&m_Begin, &m_End);
        SProfilerKitHeader* header = ProfilerKitHeader(Context());
        if (ProfilerKitLoad(header->m_Magic) == PROFILER_KIT_MAGIC &&
            !ProfilerKitHeaderMatches(Context()))
            return;
        LogSetForward(&ForwardLog);
        m_Registered = m_Begin != m_End;
        if (m_Registered)
            Context()->RegisterModule(m_Begin, m_End);
    }
    ~CProfilerKitModule()
    {
        LogSetForward(nullptr);
        if (m_Registered)
            Context()->UnregisterModule(m_Begin);
    }

    SProfilerStaticScope* m_Begin = nullptr;
    SProfilerStaticScope* m_End = nullptr;
    bool m_Registered = false;
} s_Module;

} // namespace

bool ProfilerKitHeaderMatches(SProfilerContext* context)
{
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    if (ProfilerKitLoad(header->m_Magic) != PROFILER_KIT_MAGIC)
        return false;
    // Refused for good once seen: the module's call sites already hold indices and records.
    const uint32_t version = ProfilerKitLoad(header->m_Version);
    if (version != PROFILER_KIT_VERSION && !s_Refused.exchange(true))
        PLATFORM_ASSERT(version == PROFILER_KIT_VERSION && "the owner's kit has another version");
    return !s_Refused.load();
}

void ProfilerKitModuleLogWrite(ELogSeverity severity, const char* channel, const char* file,
                               uint32_t line, const char* text)
{
    LogWrite(severity, channel, file, line, "%s", text);
}

int32_t ProfilerKitRegisterScope(SProfilerStaticScope* record)
{
    SProfilerContext* context = Context();
    if (s_Refused.load(std::memory_order_relaxed))
        return PROFILER_SCOPE_NOT_READY;
    // A full table would take the lock at every call; names that fit were registered with
    // the module, and the warning was written then.
    if (Ready(context) &&
        std::atomic_ref<int32_t>(context->m_NumScopes).load(std::memory_order_acquire) >=
            context->m_NumScopeEntries)
        return PROFILER_SCOPE_TABLE_FULL;
    return context->RegisterScope(&record->m_Index, record->m_Name, record->m_ThresholdMs);
}

SProfilerThread* ProfilerKitAttachThread()
{
    SProfilerContext* context = Context();
    if (!Ready(context) || !ProfilerKitHeaderMatches(context))
        return nullptr;
    const uint32_t first = static_cast<uint32_t>(context->m_FirstThreadID);
    uint32_t id = context->PeekThreadID();
    if (id < first)
    {
        // The name this module's thread layer gave the thread, else the owner's slot 10.
        ThreadImpl* own = ThreadGetCurrent();
        const char* name = own != nullptr ? own->m_Name : context->GetThreadName();
        context->RegisterThread(name != nullptr ? name : "Unknown Thread");
        id = context->PeekThreadID();
    }
    if (id < first || id == PROFILER_INVALID_THREAD_ID)
        return nullptr; // all records in use: this thread is not timed
    SProfilerThread* thread = context->GetThreadData(static_cast<int32_t>(id));
    g_ProfilerKitThread = thread;
    return thread;
}

void ProfilerKitRecord(SProfilerThread* thread, int32_t index, int64_t start, int64_t end)
{
    SProfilerContext* context = Context();
    // Null once the owner has shut down: nothing is recorded any more.
    const SProfilerScope* scopes =
        std::atomic_ref<SProfilerScope*>(context->m_Scopes).load(std::memory_order_acquire);
    if (scopes == nullptr)
        return;
    const uint64_t ticks = end > start ? static_cast<uint64_t>(end - start) : 0;
    const uint32_t ticks32 = ticks > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ticks);

    // Only this thread writes its entries: plain read-modify-write through atomic stores.
    SProfilerKitScopeEntry& entry =
        static_cast<SProfilerKitScopeEntry*>(thread->m_ScopeEntries)[index];
    std::atomic_ref<uint64_t>(entry.m_TotalTicks)
        .store(entry.m_TotalTicks + ticks, std::memory_order_relaxed);
    std::atomic_ref<uint32_t>(entry.m_Calls).store(entry.m_Calls + 1, std::memory_order_relaxed);
    if (ticks32 > entry.m_LongestTicks)
        std::atomic_ref<uint32_t>(entry.m_LongestTicks).store(ticks32, std::memory_order_relaxed);
    if (ticks < scopes[index].m_ThresholdTicks)
        return;

    const uint32_t ringLength = ProfilerKitHeader(context)->m_RingLength;
    uint32_t& over = ProfilerKitOverThreshold(*thread, ringLength)[index];
    std::atomic_ref<uint32_t>(over).store(over + 1, std::memory_order_relaxed);

    // Readers tell a slot being reused by the calls begun (m_ClientWord1): the count is
    // raised before this entry's stores, so a reader that sees any of them sees it too.
    const uint32_t count = thread->m_ClientWord0;
    SProfilerKitRingEntry& slot =
        static_cast<SProfilerKitRingEntry*>(thread->m_ThreadEntries)[count & (ringLength - 1)];
    std::atomic_ref<uint32_t>(thread->m_ClientWord1).store(count + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    std::atomic_ref<uint64_t>(slot.m_StartTicks)
        .store(static_cast<uint64_t>(start), std::memory_order_relaxed);
    std::atomic_ref<uint32_t>(slot.m_DurationTicks).store(ticks32, std::memory_order_relaxed);
    std::atomic_ref<int32_t>(slot.m_ScopeIndex).store(index, std::memory_order_relaxed);
    std::atomic_ref<uint32_t>(thread->m_ClientWord0).store(count + 1, std::memory_order_release);
}

void ProfilerKitFrame()
{
    SProfilerContext* context = Context();
    if (!Ready(context) || !ProfilerKitHeaderMatches(context))
        return;
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    const uint32_t count = ProfilerKitLoad(header->m_FrameCount);
    uint64_t& slot = header->m_FrameTicks[count & (PROFILER_KIT_FRAME_MARKS - 1)];
    std::atomic_ref<uint32_t>(header->m_FramesBegun).store(count + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    std::atomic_ref<uint64_t>(slot).store(static_cast<uint64_t>(GetCounterTicks()),
                                          std::memory_order_relaxed);
    std::atomic_ref<uint32_t>(header->m_FrameCount).store(count + 1, std::memory_order_release);
}
