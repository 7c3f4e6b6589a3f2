// What the kit's units share inside one module: the per-OS functions (implemented in
// posix/kit/kit_posix and win32/kit/kit_win32) and the module's own log entry. Portable
// interface; internal to the kit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kit/profilerkit_layout.h"

// This module's record array, empty when the module has none.
void ProfilerKitModuleRecords(SProfilerStaticScope** begin, SProfilerStaticScope** end);
// The OS's name for the calling thread; false when the OS keeps none.
bool ProfilerKitOsThreadName(char* buffer, size_t size);
uint32_t ProfilerKitOsProcessId();

// This module's log entry: the line goes to this module's log. The owner publishes it.
void ProfilerKitModuleLogWrite(ELogSeverity severity, const char* channel, const char* file,
                               uint32_t line, const char* text);

// True when the record carries a kit header of this kit's version. A header of another
// version fails an assertion, once per module, and then reads as absent.
bool ProfilerKitHeaderMatches(SProfilerContext* context);

// ---- snapshots for the report and the trace (owner side; they may allocate) ----

struct SProfilerKitScopeCopy
{
    std::string m_Name; // "(unloaded)" when the descriptor has none
    uint32_t m_NameHash;
    uint32_t m_ThresholdTicks;
};

struct SProfilerKitSnapshot
{
    std::vector<SProfilerKitScopeCopy> m_Scopes;
    uint32_t m_RingLength;
    int32_t m_NumThreads;
};

// Copies the scope table under m_BigLock; false when the context is not set up by a kit of
// this version.
bool ProfilerKitTakeSnapshot(SProfilerKitSnapshot* snapshot);
// The thread's ring entries that were certainly whole while they were copied, oldest first.
void ProfilerKitCopyRing(const SProfilerThread& thread, uint32_t ringLength,
                         std::vector<SProfilerKitRingEntry>* entries);
// The frame marks still in the ring, oldest first.
void ProfilerKitCopyFrames(SProfilerContext* context, std::vector<uint64_t>* ticks);
