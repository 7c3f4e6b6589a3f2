// The kit's part in every module that uses the scope macros: the module's registration at
// load and its withdrawal (with its call sites' names) at unload, the slow paths of a call
// site and of a thread, the recording of one call (also into a running capture), frame
// marks, counters, and the forwarding of this module's log lines to the owner's log. The
// macro references this unit, so the linker pulls it (and with it the registrar) into each
// such module. Portable.
#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/debug/utf8.h"
#include "common/thread/mutex.h"
#include "common/thread/synchronization.h"
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

SProfilerKitCapture* RunningCapture(SProfilerContext* context)
{
    SProfilerKitCapture* capture =
        std::atomic_ref<SProfilerKitCapture*>(ProfilerKitHeader(context)->m_Capture)
            .load(std::memory_order_acquire);
    return capture != nullptr &&
                   std::atomic_ref<uint32_t>(capture->m_Active).load(std::memory_order_acquire) != 0
               ? capture
               : nullptr;
}

void PushModuleEvent(EProfilerKitEvent kind, const char* file)
{
    if (RunningCapture(Context()) != nullptr && ProfilerKitHeaderMatches(Context()))
        ProfilerKitPushEvent(kind, "", file, 0, 0);
}

void CopyText(char* to, size_t size, const char* from)
{
    // Cut between characters, so that a long line keeps valid UTF-8.
    from = from != nullptr ? from : "";
    const size_t length = Utf8CutLength(from, size - 1);
    std::memcpy(to, from, length);
    to[length] = '\0';
}

// Hands the call to the capture's ring of the thread, or counts it dropped when the ring
// is full. Only the thread writes here; the head's release store publishes the entry.
void CaptureCall(SProfilerKitCapture& capture, SProfilerKitCaptureThread& slot, uint64_t start,
                 uint64_t packed)
{
    SProfilerKitRingEntry* ring = ProfilerKitLoad(slot.m_Ring);
    const uint32_t length = capture.m_RingLength;
    const uint64_t head = slot.m_Head;
    // The ring holds at most 2^24 entries: the low halves of head and tail tell how many are
    // in use, and 32-bit arithmetic keeps this path short on 32-bit processors.
    uint32_t used = static_cast<uint32_t>(head) - static_cast<uint32_t>(slot.m_TailSeen);
    if (used + 2 > length)
    {
        slot.m_TailSeen = std::atomic_ref<uint64_t>(slot.m_Tail).load(std::memory_order_acquire);
        used = static_cast<uint32_t>(head) - static_cast<uint32_t>(slot.m_TailSeen);
    }
    // A pending drop mark goes first, so that a call never goes in while the mark cannot.
    const uint32_t needed = slot.m_Unmarked != 0 ? 2 : 1;
    if (ring == nullptr || used + needed > length)
    {
        if (slot.m_Unmarked++ == 0)
            slot.m_LossTicks = start;
        ProfilerKitStore(slot.m_Dropped, slot.m_Dropped + 1);
        return;
    }
    uint64_t at = head;
    if (slot.m_Unmarked != 0)
    {
        ring[static_cast<uint32_t>(at++) & (length - 1)] = {
            slot.m_LossTicks | PROFILER_KIT_CAPTURE_DROPS, slot.m_Unmarked};
        slot.m_Unmarked = 0;
    }
    ring[static_cast<uint32_t>(at++) & (length - 1)] = {start, packed};
    ProfilerKitStore(slot.m_Head, at, std::memory_order_release);
}

// This module's call sites that registered a name, newest first; guarded by m_BigLock.
SProfilerKitSite* s_Sites = nullptr;

// Warns once per process (the count lives in the shared header) and counts the module.
void LeaveOut(SProfilerKitHeader* header)
{
    if (std::atomic_ref<uint32_t>(header->m_ModulesLeftOut).fetch_add(1) == 0)
        LogWrite(E_LOG_WARNING, "PROFILE", __FILE__, __LINE__,
                 "The profiler's module table is full (%d modules): further modules are left "
                 "out of it, and the report counts them. Their scopes are still timed.",
                 static_cast<int>(PROFILER_MAX_MODULES));
}

// Enters m_BigLock when the context has one (it is recursive); before the set-up the table
// is only touched by loads, which then come from one thread.
struct CProfilerKitLock
{
    CProfilerKitLock()
        : m_Lock(
              std::atomic_ref<ThreadMutex*>(Context()->m_BigLock).load(std::memory_order_acquire))
    {
        if (m_Lock != nullptr)
            ThreadMutexLock(m_Lock);
    }
    ~CProfilerKitLock()
    {
        if (m_Lock != nullptr)
            ThreadMutexUnlock(m_Lock);
    }
    CProfilerKitLock(const CProfilerKitLock&) = delete;
    CProfilerKitLock& operator=(const CProfilerKitLock&) = delete;
    ThreadMutex* const m_Lock;
};

// The module's entry in the library's module table, made when the module loads and withdrawn
// when it unloads, together with every name that its call sites registered. The entry is
// an empty array that stands for the module (the library knows a module by its begin
// address; the begin record, never walked, carries the module's file name for the report):
// call sites register at their first run instead, since no compiler places the statics of
// inline functions and templates into a section reliably. The file name is looked up here,
// where the loader's lock is held anyway: a report that asked the OS under m_BigLock would
// wait for that lock while a loading module's registrar waits for m_BigLock. A module that meets
// another kit version at load stays out of the context; one that finds the table full
// stays out of the table only.
struct CProfilerKitModule
{
    CProfilerKitModule()
    {
        SProfilerContext* context = Context();
        SProfilerKitHeader* header = ProfilerKitHeader(context);
        if (!ProfilerKitOsModuleName(this, m_File, sizeof(m_File)))
            std::snprintf(m_File, sizeof(m_File), "?");
        if (ProfilerKitLoad(header->m_Magic) == PROFILER_KIT_MAGIC &&
            !ProfilerKitHeaderMatches(context))
            return;
        LogSetForward(&ForwardLog);
        PushModuleEvent(E_PROFILER_KIT_EVENT_MODULE_LOAD, m_File);
        CProfilerKitLock hold;
        m_Registered = context->m_ProfilerNumLoadedModules < PROFILER_MAX_MODULES;
        if (m_Registered)
            context->RegisterModule(&m_Anchor, &m_Anchor);
        else
            LeaveOut(header);
    }
    ~CProfilerKitModule()
    {
        LogSetForward(nullptr);
        PushModuleEvent(E_PROFILER_KIT_EVENT_MODULE_UNLOAD, m_File);
        SProfilerContext* context = Context();
        CProfilerKitLock hold;
        if (hold.m_Lock != nullptr && !s_Refused.load())
            for (SProfilerKitSite* site = s_Sites; site != nullptr; site = site->m_Next)
                ProfilerKitHeader(context)->m_ReleaseName(site->m_Name);
        s_Sites = nullptr;
        if (m_Registered)
            context->UnregisterModule(&m_Anchor);
    }

    char m_File[256] = {};
    SProfilerStaticScope m_Anchor = {-1, 0.0f, m_File};
    bool m_Registered = false;
} s_Module;

} // namespace

bool ProfilerKitHeaderMatches(SProfilerContext* context)
{
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    if (ProfilerKitLoad(header->m_Magic) != PROFILER_KIT_MAGIC)
        return false;
    // Refused for good once seen: the module's call sites may hold indices already.
    const uint32_t version = ProfilerKitLoad(header->m_Version);
    if (version != PROFILER_KIT_VERSION && !s_Refused.exchange(true))
        LogWrite(E_LOG_WARNING, "PROFILE", __FILE__, __LINE__,
                 "This module's profiler kit has version %u, the owner's %u: the module "
                 "times nothing.",
                 static_cast<unsigned>(PROFILER_KIT_VERSION), static_cast<unsigned>(version));
    return !s_Refused.load();
}

void ProfilerKitModuleLogWrite(ELogSeverity severity, const char* channel, const char* file,
                               uint32_t line, const char* text)
{
    LogWrite(severity, channel, file, line, "%s", text);
}

int32_t ProfilerKitRegisterScope(SProfilerKitSite* site, const char* name, float thresholdMs)
{
    SProfilerContext* context = Context();
    if (std::atomic_ref<int32_t>(site->m_Index).load(std::memory_order_relaxed) ==
        PROFILER_KIT_SITE_REFUSED)
        return PROFILER_SCOPE_TABLE_FULL; // the table never shrinks: no lock for this site
    CProfilerKitLock hold;
    if (hold.m_Lock == nullptr || !ProfilerKitHeaderMatches(context))
        return PROFILER_SCOPE_NOT_READY; // tried again at the next call
    if (site->m_Index >= 0)
        return site->m_Index; // another thread registered the site meanwhile
    const SProfilerKitName* owned =
        ProfilerKitHeader(context)->m_AcquireName(name, thresholdMs, E_PROFILER_KIT_NAME_STATIC);
    if (owned == nullptr)
    {
        std::atomic_ref<int32_t>(site->m_Index).store(PROFILER_KIT_SITE_REFUSED);
        return PROFILER_SCOPE_TABLE_FULL;
    }
    site->m_Name = owned;
    site->m_Next = s_Sites;
    s_Sites = site;
    std::atomic_ref<int32_t>(site->m_Index).store(owned->m_Index, std::memory_order_release);
    return owned->m_Index;
}

int32_t ProfilerKitRegisterDynamic(SProfilerKitDynamicSite* site, const char* name,
                                   float thresholdMs)
{
    PLATFORM_ASSERT(name != 0 && "PROFILE_SCOPE_DYNAMIC with a null name");
    SProfilerContext* context = Context();
    CProfilerKitLock hold;
    if (name == nullptr || hold.m_Lock == nullptr || !ProfilerKitHeaderMatches(context))
        return PROFILER_SCOPE_NOT_READY;
    const SProfilerKitName* owned =
        ProfilerKitHeader(context)->m_AcquireName(name, thresholdMs, E_PROFILER_KIT_NAME_DYNAMIC);
    if (owned == nullptr)
        return PROFILER_SCOPE_TABLE_FULL;
    site->m_Last.store(owned, std::memory_order_release);
    return owned->m_Index;
}

SProfilerThread* ProfilerKitAttachThread()
{
    SProfilerContext* context = Context();
    if (!Ready(context) || !ProfilerKitHeaderMatches(context))
        return nullptr;
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    const uint32_t first = static_cast<uint32_t>(context->m_FirstThreadID);
    uint32_t id = context->PeekThreadID();
    if (id < first)
    {
        // The name this module's thread layer gave the thread, else the owner's slot 10.
        // Peeked, so that a module whose thread layer never ran takes no slot of its own.
        ThreadImpl* own = ThreadPeekCurrent();
        const char* name = own != nullptr ? own->m_Name : context->GetThreadName();
        context->RegisterThread(name != nullptr ? name : "Unknown Thread");
        id = context->PeekThreadID();
        if (id == PROFILER_INVALID_THREAD_ID) // once per thread: the id stays invalid
            std::atomic_ref<uint64_t>(header->m_UnattachedThreads).fetch_add(1);
    }
    if (id == PROFILER_INVALID_THREAD_ID)
    {
        // All records in use: this thread is not timed, but its calls are counted.
        std::atomic_ref<uint64_t>(header->m_UnattachedCalls).fetch_add(1);
        return nullptr;
    }
    if (id < first)
        return nullptr; // the owner shut down meanwhile
    SProfilerThread* thread = context->GetThreadData(static_cast<int32_t>(id));
    g_ProfilerKitThread = thread;
    return thread;
}

void ProfilerKitRecord(SProfilerThread* thread, int32_t index, int64_t start, int64_t end)
{
    // The depth is kept even after a shutdown, so that a call that began before it ends
    // in step.
    uint32_t& depth = ProfilerKitDepth(*thread, index);
    depth -= depth > 0 ? 1 : 0;
    SProfilerContext* context = Context();
    const SProfilerKitHeader& header = *ProfilerKitHeader(context);
    if (ProfilerKitLoad(header.m_State) != PROFILER_KIT_STATE_READY)
        return; // shut down: nothing is recorded any more
    const uint64_t ticks = end > start ? static_cast<uint64_t>(end - start) : 0;

    // Only this thread writes its entries: plain read-modify-write through atomic stores.
    // The longest call goes before the total, which readers load first with acquire order,
    // so that a report never shows a longest call below the mean.
    SProfilerKitScopeCounters& counters = ProfilerKitCounters(*thread, header)[index];
    if (ticks > counters.m_LongestTicks)
        ProfilerKitStore(counters.m_LongestTicks, ticks);
    const bool over = ticks >= ProfilerKitLoad(context->m_Scopes[index].m_ThresholdTicks);
    const uint64_t duration = ticks < PROFILER_KIT_MAX_DURATION ? ticks : PROFILER_KIT_MAX_DURATION;
    const uint64_t packed = duration | static_cast<uint64_t>(index) << PROFILER_KIT_DURATION_BITS;
    if (SProfilerKitCapture* capture = RunningCapture(context))
        CaptureCall(*capture, capture->m_Threads[thread - context->m_Threads],
                    static_cast<uint64_t>(start), packed);
    if (over)
        ProfilerKitStore(counters.m_OverThreshold, counters.m_OverThreshold + 1);
    SProfilerKitScopeEntry& entry =
        static_cast<SProfilerKitScopeEntry*>(thread->m_ScopeEntries)[index];
    ProfilerKitStore(entry.m_Calls, entry.m_Calls + 1);
    if (depth == 0) // the outermost call of the scope on this thread
        ProfilerKitStore(entry.m_TotalTicks, entry.m_TotalTicks + ticks, std::memory_order_release);
    if (!over)
        return;

    // Readers tell a slot being reused by the calls begun: the count is raised before this
    // entry's stores, so a reader that sees any of them sees it too.
    SProfilerKitRingHeader& ring = *ProfilerKitRingHeader(*thread);
    const uint64_t count = ring.m_Written;
    SProfilerKitRingEntry& slot =
        ProfilerKitRing(*thread, header)[count & (header.m_RingLength - 1)];
    ProfilerKitStore(ring.m_Begun, count + 1);
    std::atomic_thread_fence(std::memory_order_release);
    ProfilerKitStore(slot.m_StartTicks, static_cast<uint64_t>(start));
    ProfilerKitStore(slot.m_Packed, packed);
    ProfilerKitStore(ring.m_Written, count + 1, std::memory_order_release);
}

void ProfilerKitFrame()
{
    SProfilerContext* context = Context();
    if (!Ready(context) || !ProfilerKitHeaderMatches(context))
        return;
    // Any thread may mark: each mark takes a number of its own, then its slot, which reads
    // as whole only once its sequence names that number. A slot has one writer at a time:
    // a mark waits out an older one still writing there (it would have to be 1024 marks
    // behind) and gives way to a newer one.
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    const uint64_t ticks = static_cast<uint64_t>(GetCounterTicks());
    if (RunningCapture(context) != nullptr)
        ProfilerKitPushEvent(E_PROFILER_KIT_EVENT_FRAME, "", "", 0, 0);
    const uint64_t number =
        std::atomic_ref<uint64_t>(header->m_FramesBegun).fetch_add(1, std::memory_order_relaxed);
    SProfilerKitFrameMark& slot = header->m_Frames[number & (PROFILER_KIT_FRAME_MARKS - 1)];
    std::atomic_ref<uint64_t> sequence(slot.m_Sequence);
    for (uint64_t seen = sequence.load(std::memory_order_relaxed);;)
    {
        if (seen >= number + 1 && (seen & PROFILER_KIT_FRAME_BUSY) == 0)
            return;
        if ((seen & PROFILER_KIT_FRAME_BUSY) != 0)
        {
            ThreadYield();
            seen = sequence.load(std::memory_order_relaxed);
        }
        else if (sequence.compare_exchange_weak(seen, (number + 1) | PROFILER_KIT_FRAME_BUSY,
                                                std::memory_order_acquire))
            break;
    }
    std::atomic_thread_fence(std::memory_order_release);
    std::atomic_ref<uint64_t>(slot.m_Ticks).store(ticks, std::memory_order_relaxed);
    sequence.store(number + 1, std::memory_order_release);
}

void ProfilerKitCounter(const char* name, double value)
{
    SProfilerContext* context = Context();
    if (Ready(context) && ProfilerKitHeaderMatches(context) && RunningCapture(context) != nullptr)
        ProfilerKitPushEvent(E_PROFILER_KIT_EVENT_COUNTER, name, "", value, 0);
}

void ProfilerKitPushEvent(EProfilerKitEvent kind, const char* name, const char* text, double value,
                          int32_t severity)
{
    SProfilerContext* context = Context();
    const uint64_t ticks = static_cast<uint64_t>(GetCounterTicks());
    SProfilerKitCapture* capture = RunningCapture(context);
    if (capture == nullptr)
        return;
    // The event goes on the thread's track, so the thread gets its record now if need be.
    SProfilerThread* thread = g_ProfilerKitThread;
    if (thread == nullptr && Ready(context))
        thread = ProfilerKitAttachThread();
    const uint32_t id = thread != nullptr ? static_cast<uint32_t>(thread - context->m_Threads) +
                                                static_cast<uint32_t>(context->m_FirstThreadID)
                                          : 0;
    CScopedMutexLock hold(capture->m_EventLock);
    if (capture->m_EventHead - capture->m_EventTail >= PROFILER_KIT_EVENTS)
    {
        ++capture->m_EventDropped;
        return;
    }
    SProfilerKitEvent& event =
        capture->m_Events[capture->m_EventHead++ & (PROFILER_KIT_EVENTS - 1)];
    event.m_Ticks = ticks;
    event.m_Value = value;
    event.m_Kind = kind;
    event.m_ThreadId = id;
    event.m_Severity = severity;
    CopyText(event.m_Name, sizeof(event.m_Name), name);
    CopyText(event.m_Text, sizeof(event.m_Text), text);
}
