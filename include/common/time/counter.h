// The high-resolution performance counter as the platform layer sees it: the frequency,
// asked of the OS once and cached per module, and the current tick count. Portable.
#pragma once

#include <cstdint>

// Ticks per second. Threads that fill the cache at the same time store the same value.
uint64_t GetCounterFrequency();
int64_t GetCounterTicks();
