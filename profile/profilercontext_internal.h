// What the library keeps to itself: the conversion of a scope threshold into counter ticks
// (its registry tests reach it) and the compiler's fastest model for the library's own
// thread-local words. Portable; not installed.
#pragma once

#include <cstdint>

uint32_t ProfilerThresholdToTicks(float thresholdMs, uint64_t frequency);

// Initial-exec: one load relative to the thread pointer instead of a call per access. The
// library is loaded with the executable or with the first module that links it, and its
// few bytes fit the static TLS that the ELF loader keeps for such libraries.
#if defined(__GNUC__) && defined(__ELF__)
#define PROFILER_TLS_MODEL __attribute__((tls_model("initial-exec")))
#else
#define PROFILER_TLS_MODEL
#endif
