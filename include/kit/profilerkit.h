// The client kit: the owner's set-up and tear-down of the shared profiler context, the
// scope and frame macros that time code in any module, and the report and trace export.
// Each module that uses the macros links the kit; the module registers itself when it loads,
// its call sites at their first run, and withdraws both when it unloads. Portable.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/memory/allocator.h"
#include "common/time/counter.h"
#include "kit/profilerkit_layout.h"
#include "profile/profilercontext.h"

// The owning client's parameters.
struct SProfilerInitParams
{
    SAllocator* m_Allocator;    // required: the scope table and every thread's buffers
    int32_t m_NumScopeEntries;  // scope capacity, 1 to PROFILER_KIT_MAX_SCOPES
    int32_t m_NumThreadEntries; // calls kept per thread, rounded up to a power of two
    int32_t m_FirstThreadID;    // at least 1
    ProfilerThreadCreatedFunc m_OnThreadCreated; // optional, called under m_BigLock
    int32_t m_NumCaptureEntries; // each thread's capture ring, rounded up to a power of two

    // The default allocator, 256 scopes, 1024 calls per thread, first id 1, no callback,
    // capture rings of 65,536 calls (1 MiB per thread, taken at a thread's first capture).
    SProfilerInitParams();
};

constexpr int32_t PROFILER_KIT_MAX_SCOPES = 1 << 20;
constexpr int32_t PROFILER_KIT_MAX_THREAD_ENTRIES = 1 << 20;
constexpr int32_t PROFILER_KIT_MAX_CAPTURE_ENTRIES = 1 << 24;

// Sets the context up: true on success. Fails (assertion and false, nothing changed) for
// bad parameters, when the context is set up already, and (false) when the allocator
// refuses the scope table. One set-up per process: a shutdown is final.
bool ProfilerKitInit(const SProfilerInitParams& params);
// Takes the set-up down again: no lock, forwarding withdrawn, slot 10 and m_OnThreadCreated
// restored. Other threads may go on timing calls meanwhile: from then on they record
// nothing. The scope table, the mutex, the thread records and their buffers stay for the
// life of the process, since such threads may still be reading them.
void ProfilerKitShutdown();
// Readable tables of threads, modules, scopes and the timing per scope; false when the
// context is not set up, the stream is null, or writing or flushing it fails.
bool ProfilerKitReport(FILE* stream);
// The recorded calls and frame marks as a Chrome trace-event JSON file, written beside the
// path and renamed into place, so a failure leaves the previous file whole; false when the
// context is not set up or the file cannot be written.
bool ProfilerKitWriteTrace(const char* path);
// Marks a frame boundary now, from any thread.
void ProfilerKitFrame();
// Scope index's name as the report shows it, cut to fit the buffer: its texts ("A | B" when
// texts share a hash), marked " (unloaded)" when every module that used it has unloaded.
// False when the context is not set up or the index is not in use.
bool ProfilerKitScopeName(int32_t index, char* buffer, size_t size);

// A counter's value now, from any thread: a "C" event of a capture (nothing otherwise).
void ProfilerKitCounter(const char* name, double value);

// ---- the continuous capture ----

struct SProfilerKitCaptureParams
{
    double m_MaxSeconds = 0;  // the capture ends by itself after this long; 0: no limit
    uint64_t m_MaxBytes = 0;  // ... or once the file holds about this much; 0: no limit
    uint32_t m_FlushMs = 100; // the file is flushed at least this often, 1 to 10,000
};

// Streams every timed call of every registered thread, the owner's log lines, counters,
// frame marks, thread names and module loads and unloads into a Chrome trace-event file
// (the array form), from the owner only, after ProfilerKitInit. False (no capture) when
// the context is not set up by this module, a capture is open already, the path is null
// or its file cannot be created or written, or the parameters are out of range; params may
// be null for the defaults. A capture that reached a limit, or whose file failed, stays
// open, finished, until stopped.
bool ProfilerKitCaptureStart(const char* path, const SProfilerKitCaptureParams* params);
// The last capture's totals once it is stopped: events in the file, its bytes, the calls and
// other events dropped, and the writer's busy time; false while one is open or before any.
struct SProfilerKitCaptureResult
{
    uint64_t m_Events;
    uint64_t m_Bytes;
    uint64_t m_DroppedCalls;
    uint64_t m_DroppedEvents;
    double m_WriterBusySeconds;
};
bool ProfilerKitCaptureResult(SProfilerKitCaptureResult* result);
// Ends the open capture and completes its file: false when none is open or the file could
// not be written whole. ProfilerKitShutdown and the process's exit stop a capture too.
bool ProfilerKitCaptureStop();

// ---- the scope timer behind PROFILE_SCOPE ----

// The calling thread's record, cached per module once the thread has one; null before.
extern constinit thread_local SProfilerThread* g_ProfilerKitThread;

// A call site's state: its index once registered (negative before), the owner's copy of its
// name, and its link in the list of this module's registered sites, which the module
// withdraws when it unloads. Only the slow path writes it, under m_BigLock.
struct SProfilerKitSite
{
    int32_t m_Index = -1;
    const SProfilerKitName* m_Name = nullptr;
    SProfilerKitSite* m_Next = nullptr;
};
// A run-time-name call site: the owner's copy of the text it met last.
struct SProfilerKitDynamicSite
{
    std::atomic<const SProfilerKitName*> m_Last{nullptr};
};
constexpr int32_t PROFILER_KIT_SITE_REFUSED = -3; // the table was full for this site's name

namespace
{
// Each call site's state, one per expansion (__COUNTER__). The anonymous namespace gives it
// internal linkage wherever the macro stands: a static local of an inline function or a
// template would be one object shared with other modules (a weak or STB_GNU_UNIQUE symbol,
// which pins a plug-in in memory after dlclose), and GCC would not let it into a section.
// An inline function compiled in several files of a module thus names one site per file;
// the linker keeps one copy of the function, and with it one of those sites.
template <int N> struct SProfilerKitSiteOf
{
    static constinit inline SProfilerKitSite s_Site{};
};
template <int N> struct SProfilerKitDynamicSiteOf
{
    static constinit inline SProfilerKitDynamicSite s_Site{};
};
} // namespace

// Slow paths, taken once per call site and once per thread and module.
int32_t ProfilerKitRegisterScope(SProfilerKitSite* site, const char* name, float thresholdMs);
int32_t ProfilerKitRegisterDynamic(SProfilerKitDynamicSite* site, const char* name,
                                   float thresholdMs);
SProfilerThread* ProfilerKitAttachThread();
// Adds one call to the thread's buffers; the call began with ProfilerKitDepth's increment.
void ProfilerKitRecord(SProfilerThread* thread, int32_t index, int64_t start, int64_t end);

// A run-time name's index: lock-free while the site meets the same text as last time.
inline int32_t ProfilerKitDynamicIndex(SProfilerKitDynamicSite* site, const char* name,
                                       float thresholdMs)
{
    const SProfilerKitName* last = site->m_Last.load(std::memory_order_acquire);
    if (last != nullptr && name != nullptr && std::strcmp(last->m_Text, name) == 0)
        return last->m_Index;
    return ProfilerKitRegisterDynamic(site, name, thresholdMs);
}

class CProfilerKitScope
{
public:
    CProfilerKitScope(SProfilerKitSite* site, const char* name, float thresholdMs)
    {
        int32_t index = std::atomic_ref<int32_t>(site->m_Index).load(std::memory_order_acquire);
        if (index < 0 && (index = ProfilerKitRegisterScope(site, name, thresholdMs)) < 0)
            return; // not ready (-2) or table full (-1): nothing is timed
        Begin(index);
    }
    explicit CProfilerKitScope(int32_t index)
    {
        if (index >= 0)
            Begin(index);
    }
    ~CProfilerKitScope()
    {
        if (m_Thread != nullptr)
            ProfilerKitRecord(m_Thread, m_Index, m_Start, GetCounterTicks());
    }
    CProfilerKitScope(const CProfilerKitScope&) = delete;
    CProfilerKitScope& operator=(const CProfilerKitScope&) = delete;

private:
    void Begin(int32_t index)
    {
        SProfilerThread* thread = g_ProfilerKitThread;
        if (thread == nullptr && (thread = ProfilerKitAttachThread()) == nullptr)
            return;
        ++ProfilerKitDepth(*thread, index);
        m_Index = index;
        m_Thread = thread;
        m_Start = GetCounterTicks();
    }

    SProfilerThread* m_Thread = nullptr;
    int32_t m_Index = -1;
    int64_t m_Start = 0;
};

#if defined(PROFILER_KIT_DISABLE)
// The profiler compiled out (a shipping build): no record, no timing, and no reference to
// the kit or the shared library, so the module links without them. The arguments are not
// evaluated; sizeof only keeps a variable used for them from being reported unused.
// Every macro of the kit has its empty form here: PROFILE_SCOPE, PROFILE_SCOPE_DYNAMIC,
// PROFILE_FRAME and PROFILE_COUNTER.
#define PROFILE_SCOPE(name, thresholdMs) static_cast<void>(sizeof(name) + sizeof(thresholdMs))
#define PROFILE_SCOPE_DYNAMIC(name, thresholdMs)                                                   \
    static_cast<void>(sizeof(name) + sizeof(thresholdMs))
#define PROFILE_FRAME() static_cast<void>(0)
#define PROFILE_COUNTER(name, value) static_cast<void>(sizeof(name) + sizeof(value))
#else
#define PROFILER_KIT_JOIN2(a, b) a##b
#define PROFILER_KIT_JOIN(a, b) PROFILER_KIT_JOIN2(a, b)

template <typename T> constexpr bool ProfilerKitIsLiteral = false;
template <size_t N> constexpr bool ProfilerKitIsLiteral<const char (&)[N]> = true;
#if defined(__GNUC__)
#define PROFILER_KIT_CONSTANT(value) __builtin_constant_p(value)
#else
#define PROFILER_KIT_CONSTANT(value) true // MSVC: the type check alone
#endif

// Times the rest of the enclosing block under the name, a string literal, with a constant
// threshold in milliseconds (fractions count). Works in any function: plain, inline, member,
// template, lambda. A name or threshold known only at run time fails to compile here.
#define PROFILE_SCOPE(name, thresholdMs) PROFILER_KIT_SCOPE_AT(name, thresholdMs, __COUNTER__)
#define PROFILER_KIT_SCOPE_AT(name, thresholdMs, n)                                                \
    static_assert(ProfilerKitIsLiteral<decltype((name))> && PROFILER_KIT_CONSTANT(name),           \
                  "PROFILE_SCOPE needs a string literal as its name; use PROFILE_SCOPE_DYNAMIC "   \
                  "for a name made at run time");                                                  \
    static_assert(PROFILER_KIT_CONSTANT(thresholdMs),                                              \
                  "PROFILE_SCOPE needs a constant threshold; use PROFILE_SCOPE_DYNAMIC for a "     \
                  "threshold known only at run time");                                             \
    CProfilerKitScope PROFILER_KIT_JOIN(profilerKitScope, n)(&SProfilerKitSiteOf<n>::s_Site, name, \
                                                             static_cast<float>(thresholdMs))

// Times the rest of the enclosing block under a name known only at run time (per asset, per
// job type). The owner copies the text, so the buffer may change or go right after; the
// first text seen sets a name's threshold. Costs a string comparison per call while the
// site meets the text it met last, and a lock and a hash when the text changes.
#define PROFILE_SCOPE_DYNAMIC(name, thresholdMs)                                                   \
    PROFILER_KIT_DYNAMIC_AT(name, thresholdMs, __COUNTER__)
#define PROFILER_KIT_DYNAMIC_AT(name, thresholdMs, n)                                              \
    CProfilerKitScope PROFILER_KIT_JOIN(profilerKitScope, n)(ProfilerKitDynamicIndex(              \
        &SProfilerKitDynamicSiteOf<n>::s_Site, name, static_cast<float>(thresholdMs)))

#define PROFILE_FRAME() ProfilerKitFrame()
// A named value (a string) now, drawn as a plot by trace viewers; recorded during a capture.
#define PROFILE_COUNTER(name, value) ProfilerKitCounter(name, static_cast<double>(value))
#endif
