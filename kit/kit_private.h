// What the kit's units share inside one module: the per-OS functions (implemented in
// posix/kit/kit_posix and win32/kit/kit_win32) and the module's own log entry. Portable
// interface; internal to the kit.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kit/profilerkit_layout.h"

#if defined(__i386__) && defined(__SSE2__)
#include <emmintrin.h>
#endif

// Stores a 64-bit field that one thread writes and other threads load whole. On i386 the
// compiler makes such a store from a pair of 32-bit registers through the stack: two 32-bit
// stores and one 64-bit load, which the processor cannot forward and stalls on for a dozen
// cycles. A timed call makes several, which tripled its cost there; moving the halves
// between registers instead keeps it at the price of the counter reads. x86 orders stores
// after earlier loads and stores, so a release store needs only the compiler's fence.
inline void ProfilerKitStore(uint64_t& field, uint64_t value,
                             std::memory_order order = std::memory_order_relaxed)
{
#if defined(__i386__) && defined(__SSE2__)
    std::atomic_signal_fence(order);
    const __m128i low = _mm_cvtsi32_si128(static_cast<int>(static_cast<uint32_t>(value)));
    const __m128i high = _mm_cvtsi32_si128(static_cast<int>(static_cast<uint32_t>(value >> 32)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&field), _mm_unpacklo_epi32(low, high));
#else
    std::atomic_ref<uint64_t>(field).store(value, order);
#endif
}

// The file name of the module that holds the address; false when the OS cannot tell.
bool ProfilerKitOsModuleName(const void* address, char* buffer, size_t size);
// The OS's name for the calling thread; false when the OS keeps none.
bool ProfilerKitOsThreadName(char* buffer, size_t size);
uint32_t ProfilerKitOsProcessId();

// This module's log entry: the line goes to this module's log. The owner publishes it.
void ProfilerKitModuleLogWrite(ELogSeverity severity, const char* channel, const char* file,
                               uint32_t line, const char* text);

// Moves the file at from to the path to, replacing a file there; false on failure.
bool ProfilerKitOsReplaceFile(const char* from, const char* to);

// True when the record carries a kit header of this kit's version. A header of another
// version writes one warning per module, and then reads as absent.
bool ProfilerKitHeaderMatches(SProfilerContext* context);

// Queues an event of a running capture on the calling thread (nothing when none runs);
// texts are cut to the event's fields. May take m_BigLock to give the thread its id.
void ProfilerKitPushEvent(EProfilerKitEvent kind, const char* name, const char* text, double value,
                          int32_t severity);

// The owner's side of the capture: the allocator and ring length from the set-up, a ring
// for a thread record created while captures exist (called under m_BigLock), and the tap
// that takes the owner's log lines into a capture.
void ProfilerKitCaptureConfigure(SAllocator* allocator, uint32_t ringLength);
void ProfilerKitCaptureThreadCreated(uint32_t index);
void ProfilerKitCaptureLogTap(ELogSeverity severity, const char* channel, const char* text);

// ---- snapshots for the report and the trace (owner side; they may allocate) ----

struct SProfilerKitScopeCopy
{
    std::string m_Name; // the owner's texts, else the descriptor's, else "(unloaded)"
    uint32_t m_NameHash;
    uint32_t m_ThresholdTicks;
};

struct SProfilerKitSnapshot
{
    std::vector<SProfilerKitScopeCopy> m_Scopes;
    const SProfilerKitHeader* m_Header;
    std::vector<std::string> m_Modules; // each registered module's file name
    int32_t m_NumThreads;
    uint64_t m_UnattachedThreads;
    uint64_t m_UnattachedCalls;
};

// The scope's display name from the owner's name service (ProfilerKitScopeName); false when
// the owner knows no text for it. Call with m_BigLock held.
bool ProfilerKitScopeText(SProfilerContext* context, int32_t index, std::string* text);
// Copies the scope table under m_BigLock; false when the context is not set up by a kit of
// this version.
bool ProfilerKitTakeSnapshot(SProfilerKitSnapshot* snapshot);
// The thread's ring entries that were certainly whole while they were copied, oldest first.
void ProfilerKitCopyRing(const SProfilerThread& thread, const SProfilerKitHeader& header,
                         std::vector<SProfilerKitRingEntry>* entries);
// The frame marks still in the ring, oldest first.
void ProfilerKitCopyFrames(const SProfilerKitHeader& header, std::vector<uint64_t>* ticks);

// Appends the text as a JSON string, quotes included: escaped, and ill-formed UTF-8 written as
// U+FFFD, for the trace and the capture alike.
void ProfilerKitJsonString(std::string* out, const char* text);

// A number with three decimals, as the C locale writes it whatever the process's locale:
// the trace's JSON and the report's columns must not depend on it.
const char* ProfilerKitFixed3(double value, char (&buffer)[32]);
