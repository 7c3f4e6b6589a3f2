// The high-resolution performance counter as the platform layer sees it: the frequency,
// asked of the OS once and cached per module, the current tick count and a description of
// the counter for reports. Portable; the read itself comes from the per-OS header.
#pragma once

#include <cstdint>

// Ticks per second. Threads that fill the cache at the same time store the same value.
uint64_t GetCounterFrequency();
// What the ticks count and where their frequency comes from, e.g. "CLOCK_MONOTONIC".
const char* GetCounterName();

// GetCounterTicks: each OS's header defines it inline where the read needs nothing beyond
// the compiler's builtins and a C library header, and declares it otherwise.
#include "platform/counter_os.h"
