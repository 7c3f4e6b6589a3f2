// What the library keeps to itself: the conversion of a scope threshold into counter ticks
// and a way to forget the calling thread's id (its registry tests and fuzz targets reach
// both), and the compiler's fastest model for the library's own thread-local words.
// Portable; not installed.
#pragma once

#include <cstdint>

uint32_t ProfilerThresholdToTicks(float thresholdMs, uint64_t frequency);

// Makes the calling thread unregistered again, its slot and the slot's thread-local copy
// both 0, as a new thread finds them: for fuzz targets that stand in for many threads.
void ProfilerForgetThisThread();

// Initial-exec: one load relative to the thread pointer instead of a call per access. The
// library is loaded with the executable or with the first module that links it, and its
// few bytes fit the static TLS that the ELF loader keeps for such libraries.
#if defined(__GNUC__) && defined(__ELF__)
#define PROFILER_TLS_MODEL __attribute__((tls_model("initial-exec")))
#else
#define PROFILER_TLS_MODEL
#endif
