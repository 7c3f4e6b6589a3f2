// The counter read on POSIX, inline in every caller: the time-stamp counter scaled down by a
// power of two where the platform layer trusts it, otherwise one call that reads
// CLOCK_MONOTONIC. Per-OS; included by common/time/counter.h.
#pragma once

#include <atomic>
#include <cstdint>

// 0 to 63: the ticks are the time-stamp counter shifted right by this much. COUNTER_SHIFT_CLOCK:
// they are CLOCK_MONOTONIC nanoseconds. Above it: not decided yet. Stored once per module,
// when the module loads or at its first read, whichever comes first.
constexpr uint32_t COUNTER_SHIFT_CLOCK = 64;
extern std::atomic<uint32_t> g_CounterShift;

// The slow path: CLOCK_MONOTONIC, after the decision if nothing has decided yet.
int64_t CounterReadClock();

inline int64_t GetCounterTicks()
{
#if defined(__x86_64__) || defined(__i386__)
    // Not ordered: the read may run up to a few hundred cycles before the loads ahead of it
    // (a fenced read would cost as much as clock_gettime). One thread's readings never go back.
    const uint32_t shift = g_CounterShift.load(std::memory_order_relaxed);
    if (shift < COUNTER_SHIFT_CLOCK) [[likely]]
        return static_cast<int64_t>(__builtin_ia32_rdtsc() >> shift);
#endif
    return CounterReadClock();
}
