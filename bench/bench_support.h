// What every benchmark executable shares: the owner's set-up of the context with the kit,
// and a second thread started and ended before any measurement, so the C library leaves
// its single-thread fast paths as it does in a real application. Portable.
#pragma once

#include <benchmark/benchmark.h>

#include <thread>

#include "kit/profilerkit.h"

inline void BenchSetUp(int32_t scopes = 8192)
{
    std::thread([] {}).join();
    SProfilerInitParams params;
    params.m_NumScopeEntries = scopes;
    ProfilerKitInit(params);
}

#define BENCH_MAIN(...)                                                                            \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        BenchSetUp(__VA_ARGS__);                                                                   \
        benchmark::Initialize(&argc, argv);                                                        \
        benchmark::RunSpecifiedBenchmarks();                                                       \
        benchmark::Shutdown();                                                                     \
        return 0;                                                                                  \
    }
