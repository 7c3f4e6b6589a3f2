// Binding threads and the process to processors, and how many processors and cores the
// machine has. Portable interface; ThreadSetAffinity's checks are portable
// (common/thread/affinity.cpp), the rest is implemented by the per-OS thread units.
#pragma once

#include <cstdint>

#include "common/thread/thread.h"

// Leaves a thread's ideal processor unchanged.
#define THREAD_AFFINITY_IDEAL_PROCESSOR_ANY (-1)

// Affinity masks: bit n stands for processor n. The OS's masks are pointer-wide, so in a
// 32-bit process only the low 32 bits take effect and masks read back have them clear.
// Processors past the mask word (64 and up, 32 and up in a 32-bit process) have no bit:
// - on POSIX, a mask read back holds the processors below that which the thread or process
//   may use, and reads 0 (without an assertion) when it may use only higher ones; a mask
//   set binds to the processors it names, so it takes the higher ones away;
// - on Windows such machines have processor groups, and bit n is processor n of the group
//   that the thread or process runs in.

// Binds the thread to the requested processors that the process may use, and sets its
// ideal processor (0..63) unless it is THREAD_AFFINITY_IDEAL_PROCESSOR_ANY. An empty
// result, an ideal processor out of range and OS refusals are asserted.
void ThreadSetAffinity(ThreadImpl* thread, uint64_t affinity_mask, int32_t ideal_proc);
// The thread's mask; stores its ideal processor (-1 when it cannot be read) unless the
// pointer is null.
uint64_t ThreadGetAffinity(ThreadImpl* thread, int32_t* ideal_proc);
// Binds every thread of the process, and every thread created from then on starts with
// this mask rather than its creator's.
void ThreadSetProcessAffinity(uint64_t affinity_mask);
// The process's mask, read when asked. POSIX keeps no process mask: it is the one set with
// ThreadSetProcessAffinity, or else the processors that any thread of the process may use.
uint64_t ThreadGetProcessAffinity();
// Logical processors; with a pointer, also stores the number of processor cores.
uint32_t ThreadGetNumProcessors(uint32_t* num_cores);
// The processor that the calling thread runs on.
uint32_t ThreadGetCurrentProcessor();
