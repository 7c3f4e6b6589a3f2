// The client kit's layouts inside the shared record: the kit header at the start of
// m_OpaqueBlock that every kit-using module reads, and the 16-byte entries of the two
// per-thread buffers. Each thread writes only its own buffers; other threads read them
// while it runs, so every field is read and written with atomic accesses. Portable.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/debug/log.h"
#include "profile/profilercontext.h"

constexpr uint32_t PROFILER_KIT_MAGIC = 0x54494B50u; // "PKIT" in memory order
constexpr uint32_t PROFILER_KIT_VERSION = 2;
constexpr uint32_t PROFILER_KIT_FRAME_MARKS = 1024; // frame ring length, a power of two
constexpr uint32_t PROFILER_KIT_STATE_READY = 1;
constexpr uint32_t PROFILER_KIT_STATE_SHUT_DOWN = 2;

// The owner's log entry, published so that every module's lines reach the owner's outputs.
typedef void (*ProfilerKitLogFunc)(ELogSeverity severity, const char* channel, const char* file,
                                   uint32_t line, const char* text);

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

// At offset 0 of m_OpaqueBlock. Zero until the owner's ProfilerKitInit; the magic and the
// version are written before m_BigLock is installed and never change afterwards.
struct SProfilerKitHeader
{
    uint32_t m_Magic;
    uint32_t m_Version;
    uint32_t m_RingLength;         // entries of each thread's call ring, a power of two
    uint32_t m_State;              // PROFILER_KIT_STATE_*
    uint32_t m_FrameCount;         // frame marks written so far (wraps at 2^32)
    uint32_t m_FramesBegun;        // frame marks begun: m_FrameCount, or one more while writing
    ProfilerKitLogFunc m_LogWrite; // null when no owner forwards lines
    alignas(8) uint64_t m_FrameTicks[PROFILER_KIT_FRAME_MARKS]; // ring of frame-mark ticks
    ProfilerKitAcquireNameFunc m_AcquireName;                   // the owner's name service
    ProfilerKitReleaseNameFunc m_ReleaseName;
    ProfilerKitScopeTextFunc m_ScopeText;
    uint32_t m_ModulesLeftOut; // kit modules that found the module table full (never reset)
};

// m_ScopeEntries[scope index]: the thread's totals for one scope.
struct alignas(8) SProfilerKitScopeEntry
{
    uint64_t m_TotalTicks;
    uint32_t m_Calls;
    uint32_t m_LongestTicks; // saturates at 0xFFFFFFFF
};

// m_ThreadEntries[0 .. ring length - 1]: the thread's most recent calls that reached their
// scope's threshold, call n at entry n mod ring length; m_ClientWord0 counts the calls
// written, m_ClientWord1 the calls begun (one more while an entry is being written). After
// the ring: one uint32 per scope index, the calls that reached the threshold.
struct alignas(8) SProfilerKitRingEntry
{
    uint64_t m_StartTicks;
    uint32_t m_DurationTicks; // saturates at 0xFFFFFFFF
    int32_t m_ScopeIndex;
};

static_assert(sizeof(SProfilerKitScopeEntry) == PROFILER_ENTRY_SIZE, "scope entry size");
static_assert(sizeof(SProfilerKitRingEntry) == PROFILER_ENTRY_SIZE, "ring entry size");
static_assert(offsetof(SProfilerKitHeader, m_LogWrite) == 24, "kit header moved");
static_assert(offsetof(SProfilerKitHeader, m_FrameTicks) == 32, "kit header moved");
static_assert(offsetof(SProfilerKitHeader, m_AcquireName) == 32 + 8 * PROFILER_KIT_FRAME_MARKS,
              "kit header moved");
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

// Per-scope counters of calls that reached the threshold, behind the ring.
inline uint32_t* ProfilerKitOverThreshold(const SProfilerThread& thread, uint32_t ringLength)
{
    return reinterpret_cast<uint32_t*>(static_cast<SProfilerKitRingEntry*>(thread.m_ThreadEntries) +
                                       ringLength);
}

template <typename T> T ProfilerKitLoad(const T& field)
{
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
