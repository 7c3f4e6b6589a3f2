// What the library keeps to itself but its registry tests reach: the conversion of a scope
// threshold into counter ticks. Portable; not installed.
#pragma once

#include <cstdint>

uint32_t ProfilerThresholdToTicks(float thresholdMs, uint64_t frequency);
