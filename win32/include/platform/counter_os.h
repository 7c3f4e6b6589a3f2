// The counter read on Windows, out of line in the per-OS unit: inline, it would pull
// <windows.h> into every client for QueryPerformanceCounter. Per-OS; included by
// common/time/counter.h.
#pragma once

#include <cstdint>

int64_t GetCounterTicks();
