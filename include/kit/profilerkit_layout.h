// The client kit's layouts inside the shared record: the kit header in m_OpaqueBlock, the
// 16-byte entries of the per-thread buffers, which their thread writes and others read
// while it runs (atomic accesses; 64-bit counts, which never wrap), and the capture's
// per-thread rings and shared event queue, which every module's kit writes. Portable.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/debug/log.h"
#include "profile/profilercontext.h"

constexpr uint32_t PROFILER_KIT_MAGIC = 0x54494B50u; // "PKIT" in memory order
constexpr uint32_t PROFILER_KIT_VERSION = 3;
constexpr uint32_t PROFILER_KIT_FRAME_MARKS = 1024; // frame ring length, a power of two
constexpr uint32_t PROFILER_KIT_STATE_READY = 1;
constexpr uint32_t PROFILER_KIT_STATE_SHUT_DOWN = 2;
// m_Warned bits: warnings written once per process.
constexpr uint32_t PROFILER_KIT_WARNED_THRESHOLD = 0x1;
// A ring entry keeps a duration of up to 2^44 - 1 ticks (over an hour at 4 GHz) beside
// the scope index; longer calls read as that many ticks.
constexpr int PROFILER_KIT_DURATION_BITS = 44;
constexpr uint64_t PROFILER_KIT_MAX_DURATION = (uint64_t(1) << PROFILER_KIT_DURATION_BITS) - 1;

// The owner's log entry, published so that every module's lines reach the owner's outputs.
typedef void (*ProfilerKitLogFunc)(ELogSeverity severity, const char* channel, const char* file,
                                   uint32_t line, const char* text);

// One frame mark. m_Sequence is the mark's number + 1 once m_Ticks is whole, with
// PROFILER_KIT_FRAME_BUSY set while a thread writes it: any thread may mark frames.
constexpr uint64_t PROFILER_KIT_FRAME_BUSY = uint64_t(1) << 63;
struct SProfilerKitFrameMark
{
    uint64_t m_Ticks;
    uint64_t m_Sequence;
};

// The owner's copy of a scope name that some module registered: owner memory that lives as
// long as the process, so no descriptor and no call site ever points into a module that can
// unload. Immutable once published; several texts with one hash share m_Index.
struct SProfilerKitName
{
    const char* m_Text;
    uint32_t m_Hash;
    int32_t m_Index;
    SProfilerKitName* m_Next; // the next text with the same hash
};

// How a call site uses a name: its module withdraws a static site when it unloads; a
// run-time name has no site to withdraw.
enum EProfilerKitNameUse
{
    E_PROFILER_KIT_NAME_STATIC,
    E_PROFILER_KIT_NAME_DYNAMIC,
};

// The owner's name service, called by every module with m_BigLock held. Acquire interns
// the text and registers it (null when the table is full); release withdraws one static
// site; text hands a scope's display name to append piece by piece (false when the owner
// knows no text for the index).
typedef const SProfilerKitName* (*ProfilerKitAcquireNameFunc)(const char* text, float thresholdMs,
                                                              EProfilerKitNameUse use);
typedef void (*ProfilerKitReleaseNameFunc)(const SProfilerKitName* name);
typedef void (*ProfilerKitAppendFunc)(const char* piece, void* user);
typedef bool (*ProfilerKitScopeTextFunc)(int32_t index, ProfilerKitAppendFunc append, void* user);

struct SProfilerKitCapture;

// At offset 0 of m_OpaqueBlock. Zero until the owner's ProfilerKitInit; the magic and the
// version are written before m_BigLock is installed and never change afterwards.
struct SProfilerKitHeader
{
    uint32_t m_Magic;
    uint32_t m_Version;
    uint32_t m_RingLength;             // entries of each thread's call ring, a power of two
    uint32_t m_State;                  // PROFILER_KIT_STATE_*
    uint32_t m_CountersOffset;         // first entry of the per-scope counters in m_ThreadEntries
    uint32_t m_RingOffset;             // first entry of the ring in m_ThreadEntries
    ProfilerKitLogFunc m_LogWrite;     // null when no owner forwards lines
    alignas(8) uint64_t m_FramesBegun; // frame marks taken so far
    uint64_t m_UnattachedThreads;      // threads that found every thread record in use
    uint64_t m_UnattachedCalls;        // their timed calls, which are not recorded
    uint32_t m_Warned;                 // PROFILER_KIT_WARNED_* bits
    alignas(8) SProfilerKitFrameMark m_Frames[PROFILER_KIT_FRAME_MARKS];
    ProfilerKitAcquireNameFunc m_AcquireName; // the owner's name service
    ProfilerKitReleaseNameFunc m_ReleaseName;
    ProfilerKitScopeTextFunc m_ScopeText;
    uint32_t m_ModulesLeftOut; // kit modules that found the module table full (never reset)
    // Set by the owner's first capture and kept for the life of the process, since timed
    // calls may read it at any moment; null before.
    SProfilerKitCapture* m_Capture;
};

// m_ScopeEntries[scope index]: the thread's totals for one scope. A call of a scope that
// is already running on the thread (recursion) adds to the calls but not to the total, so
// every moment counts once per scope.
struct alignas(8) SProfilerKitScopeEntry
{
    uint64_t m_TotalTicks; // written last, with release order
    uint64_t m_Calls;
};

// m_ThreadEntries, in this order:
//   [0]                  SProfilerKitRingHeader
//   [1 ..)               one uint32 per scope index: the scope's calls running on the thread
//                        (read and written by the thread alone)
//   [m_CountersOffset ..) SProfilerKitScopeCounters, one per scope index
//   [m_RingOffset ..)    the ring: the thread's most recent calls that reached their scope's
//                        threshold, call n at entry n mod ring length
struct alignas(8) SProfilerKitRingHeader
{
    uint64_t m_Written; // calls written to the ring
    uint64_t m_Begun;   // calls begun: m_Written, or one more while an entry is written
};

struct alignas(8) SProfilerKitScopeCounters
{
    uint64_t m_LongestTicks;
    uint64_t m_OverThreshold; // calls that reached the threshold
};

struct alignas(8) SProfilerKitRingEntry
{
    uint64_t m_StartTicks;
    uint64_t m_Packed; // duration in the low PROFILER_KIT_DURATION_BITS, the scope index above
};

// ---- the continuous capture ----
// Each thread's calls go to a ring of its own, which only the thread writes and only the
// owner's writer thread reads: the thread publishes m_Head, the writer m_Tail. A call that
// finds the ring full is dropped and counted; the thread writes a drop mark (start ticks
// with PROFILER_KIT_CAPTURE_DROPS set, the count in m_Packed) once there is room again.
constexpr uint64_t PROFILER_KIT_CAPTURE_DROPS = uint64_t(1) << 63;
struct alignas(64) SProfilerKitCaptureThread
{
    SProfilerKitRingEntry* m_Ring; // m_RingLength entries, set under m_BigLock, never freed
    uint64_t m_Head;               // entries written (the thread's)
    uint64_t m_Tail;               // entries taken (the writer's)
    uint64_t m_TailSeen;           // the thread's last look at m_Tail
    uint64_t m_Dropped;            // calls dropped, over every capture (the thread's)
    uint64_t m_Unmarked;           // of them, not yet in a drop mark (the thread's alone)
    uint64_t m_LossTicks;          // when the unmarked run of drops began
    uint64_t m_DroppedAtStart;     // m_Dropped when the last capture began (the owner's)
};

// Log lines, counters, frame marks and module events: rare beside calls, from any thread,
// so they share one queue under m_EventLock and carry copies of their texts.
enum EProfilerKitEvent : uint32_t
{
    E_PROFILER_KIT_EVENT_LOG,           // m_Name the channel, m_Text the line, m_Severity
    E_PROFILER_KIT_EVENT_COUNTER,       // m_Name, m_Value
    E_PROFILER_KIT_EVENT_FRAME,         //
    E_PROFILER_KIT_EVENT_MODULE_LOAD,   // m_Text the module's file
    E_PROFILER_KIT_EVENT_MODULE_UNLOAD, // m_Text the module's file
    E_PROFILER_KIT_EVENT_COUNT
};
constexpr uint32_t PROFILER_KIT_EVENT_NAME = 64;  // bytes kept of a channel or counter name
constexpr uint32_t PROFILER_KIT_EVENT_TEXT = 416; // bytes kept of a line or a file name
constexpr uint32_t PROFILER_KIT_EVENTS = 2048;    // queue length, a power of two
struct alignas(8) SProfilerKitEvent
{
    uint64_t m_Ticks;
    double m_Value;
    uint32_t m_Kind; // EProfilerKitEvent
    uint32_t m_ThreadId;
    int32_t m_Severity;
    char m_Name[PROFILER_KIT_EVENT_NAME];
    char m_Text[PROFILER_KIT_EVENT_TEXT];
};

struct SProfilerKitCapture
{
    uint32_t m_Active;     // 1 while calls and events go to the capture
    uint32_t m_RingLength; // entries of each thread's ring, a power of two
    uint64_t m_StartTicks;
    ThreadMutex* m_EventLock;
    uint64_t m_EventHead;    // under m_EventLock, as the two below
    uint64_t m_EventTail;    //
    uint64_t m_EventDropped; // events that found the queue full, over every capture
    uint64_t m_EventDroppedAtStart;
    SProfilerKitCaptureThread m_Threads[PROFILER_MAX_THREADS];
    SProfilerKitEvent m_Events[PROFILER_KIT_EVENTS];
};

static_assert(sizeof(SProfilerKitScopeEntry) == PROFILER_ENTRY_SIZE, "scope entry size");
static_assert(sizeof(SProfilerKitRingHeader) == PROFILER_ENTRY_SIZE, "ring header size");
static_assert(sizeof(SProfilerKitScopeCounters) == PROFILER_ENTRY_SIZE, "counters size");
static_assert(sizeof(SProfilerKitRingEntry) == PROFILER_ENTRY_SIZE, "ring entry size");
static_assert(offsetof(SProfilerKitHeader, m_Version) == 4, "kit header moved");
static_assert(offsetof(SProfilerKitHeader, m_LogWrite) == 24, "kit header moved");
static_assert(offsetof(SProfilerKitHeader, m_FramesBegun) == 32, "kit header moved");
static_assert(offsetof(SProfilerKitHeader, m_Frames) == 64, "kit header moved");
static_assert(offsetof(SProfilerKitHeader, m_AcquireName) ==
                  64 + sizeof(SProfilerKitFrameMark) * PROFILER_KIT_FRAME_MARKS,
              "kit header moved");
static_assert(offsetof(SProfilerKitHeader, m_Capture) == (sizeof(void*) == 4 ? 16464 : 16480),
              "kit header moved");
static_assert(sizeof(SProfilerKitRingEntry) == 16 && sizeof(SProfilerKitCaptureThread) == 64,
              "capture ring entries and per-thread slots");
static_assert(sizeof(SProfilerKitHeader) <= sizeof(SProfilerContext::m_OpaqueBlock),
              "the kit header fits the opaque block");
// 64-bit fields must be readable without tearing in 32-bit builds too.
static_assert(std::atomic_ref<uint64_t>::is_always_lock_free, "lock-free 64-bit atomics");
static_assert(std::atomic_ref<uint64_t>::required_alignment <= 8, "8-byte aligned entries");

// The record's kit header.
inline SProfilerKitHeader* ProfilerKitHeader(SProfilerContext* context)
{
    return reinterpret_cast<SProfilerKitHeader*>(context->m_OpaqueBlock);
}

// Entries of m_ThreadEntries before the per-scope counters, for a table of scopeEntries.
constexpr uint32_t ProfilerKitCountersOffset(uint32_t scopeEntries)
{
    return 1 + (scopeEntries + 3) / 4; // the ring header, then four depth counters an entry
}

inline SProfilerKitRingHeader* ProfilerKitRingHeader(const SProfilerThread& thread)
{
    return static_cast<SProfilerKitRingHeader*>(thread.m_ThreadEntries);
}

// The scope's calls running on the calling thread, which alone uses it.
inline uint32_t& ProfilerKitDepth(const SProfilerThread& thread, int32_t index)
{
    return reinterpret_cast<uint32_t*>(ProfilerKitRingHeader(thread) + 1)[index];
}

inline SProfilerKitScopeCounters* ProfilerKitCounters(const SProfilerThread& thread,
                                                      const SProfilerKitHeader& header)
{
    return reinterpret_cast<SProfilerKitScopeCounters*>(ProfilerKitRingHeader(thread) +
                                                        header.m_CountersOffset);
}

inline SProfilerKitRingEntry* ProfilerKitRing(const SProfilerThread& thread,
                                              const SProfilerKitHeader& header)
{
    return reinterpret_cast<SProfilerKitRingEntry*>(ProfilerKitRingHeader(thread) +
                                                    header.m_RingOffset);
}

template <typename T> T ProfilerKitLoad(const T& field)
{
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
