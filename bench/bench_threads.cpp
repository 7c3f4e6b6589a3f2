// The per-call costs of profiled code: a registered thread's lookup through the service
// table against a peer's exported thread_local and a raw thread_local, the kit's cached
// record, a timed scope against the two counter reads it needs, two reads of the
// time-stamp counter and of the OS clock, and a peer profiler's scope (microprofile, where
// it is installed), all in one process; the same scope in inline and template code, a
// recursive one, and scopes with run-time names.
#include <time.h>
#include <x86intrin.h>

#include <string>

#include "bench_support.h"
#include "common/time/counter.h"

#if defined(BENCH_MICROPROFILE)
#include <microprofile.h>
#endif

extern "C" uint32_t BenchPeerThreadId();

namespace
{

thread_local uint32_t t_RawThreadId = 1;

SProfilerContext* Ready()
{
    SProfilerContext* context = GetProfiler();
    context->GetThreadID(); // registered before the measurement
    BenchPeerThreadId();
    return context;
}

void BM_ServiceGetThreadID(benchmark::State& state)
{
    SProfilerContext* context = Ready();
    for (auto _ : state)
        benchmark::DoNotOptimize(context->GetThreadID());
}

void BM_ServicePeekThreadID(benchmark::State& state)
{
    SProfilerContext* context = Ready();
    for (auto _ : state)
        benchmark::DoNotOptimize(context->PeekThreadID());
}

void BM_ServiceGetThreadData(benchmark::State& state)
{
    SProfilerContext* context = Ready();
    const int32_t id = static_cast<int32_t>(context->GetThreadID());
    for (auto _ : state)
        benchmark::DoNotOptimize(context->GetThreadData(id));
}

void BM_PeerSharedLibraryThreadLocal(benchmark::State& state)
{
    Ready();
    for (auto _ : state)
        benchmark::DoNotOptimize(BenchPeerThreadId());
}

void BM_RawThreadLocal(benchmark::State& state)
{
    for (auto _ : state)
    {
        uint32_t id = t_RawThreadId; // a load each time: the clobber below forgets it
        benchmark::DoNotOptimize(id);
        benchmark::ClobberMemory();
    }
}

void BM_KitCachedThreadRecord(benchmark::State& state)
{
    Ready();
    ProfilerKitAttachThread();
    for (auto _ : state)
    {
        SProfilerThread* thread = g_ProfilerKitThread;
        benchmark::DoNotOptimize(thread);
        benchmark::ClobberMemory();
    }
}

void BM_TwoCounterReads(benchmark::State& state)
{
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(GetCounterTicks());
        benchmark::DoNotOptimize(GetCounterTicks());
    }
}

void BM_TimedScopeUnderThreshold(benchmark::State& state)
{
    for (auto _ : state)
    {
        PROFILE_SCOPE("Bench::UnderThreshold", 1000);
        benchmark::ClobberMemory();
    }
}

void BM_TimedScopeOverThreshold(benchmark::State& state)
{
    for (auto _ : state)
    {
        PROFILE_SCOPE("Bench::OverThreshold", 0); // every call goes into the ring
        benchmark::ClobberMemory();
    }
}

// The loop and the compiler barrier of the scope benchmarks alone: subtracted from each
// of them before they are compared.
void BM_EmptyLoop(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::ClobberMemory();
}

void BM_TwoTimeStampCounterReads(benchmark::State& state)
{
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(__rdtsc());
        benchmark::DoNotOptimize(__rdtsc());
    }
}

void BM_TwoClockReads(benchmark::State& state)
{
    timespec now;
    for (auto _ : state)
    {
        clock_gettime(CLOCK_MONOTONIC, &now);
        benchmark::DoNotOptimize(now);
        clock_gettime(CLOCK_MONOTONIC, &now);
        benchmark::DoNotOptimize(now);
    }
}

#if defined(BENCH_MICROPROFILE)
// Its scope with every group enabled. Its per-thread log holds far more than the 2^16
// calls between two flips, which run outside the measurement, as a frame's end would.
void BM_PeerMicroProfileScope(benchmark::State& state)
{
    static const bool s_Ready = [] { // once per thread: it asserts on a second time
        MicroProfileOnThreadCreate("Bench");
        MicroProfileSetEnableAllGroups(true);
        MicroProfileFlip(nullptr);
        return true;
    }();
    benchmark::DoNotOptimize(s_Ready);
    uint32_t calls = 0;
    for (auto _ : state)
    {
        {
            MICROPROFILE_SCOPEI("Bench", "PeerScope", 0xff0000);
            benchmark::ClobberMemory();
        }
        if (++calls % 65536 == 0)
        {
            state.PauseTiming();
            MicroProfileFlip(nullptr);
            state.ResumeTiming();
        }
    }
}
#endif

// A scope that encloses a call of itself: two calls per iteration, the inner one counted in
// the calls but not again in the total.
void BM_TimedScopeRecursive(benchmark::State& state)
{
    for (auto _ : state)
    {
        PROFILE_SCOPE("Bench::Recursive", 0);
        {
            PROFILE_SCOPE("Bench::Recursive", 0);
            benchmark::ClobberMemory();
        }
    }
}

// The same scope where templates and inline functions hold it: the same site state and path.
inline void InlineScope()
{
    PROFILE_SCOPE("Bench::Inline", 1000);
    benchmark::ClobberMemory();
}

template <typename T> void TemplateScope()
{
    PROFILE_SCOPE("Bench::Template", 1000);
    benchmark::ClobberMemory();
}

void BM_TimedScopeInline(benchmark::State& state)
{
    for (auto _ : state)
        InlineScope();
}

void BM_TimedScopeTemplate(benchmark::State& state)
{
    for (auto _ : state)
        TemplateScope<int>();
}

// A run-time name: a string comparison per call while the site meets the same text, a lock
// and a hash lookup in the owner's table when the text changes at every call.
void BM_TimedScopeDynamic(benchmark::State& state)
{
    const std::string name = "Bench::Asset/characters/hero_17.mesh";
    for (auto _ : state)
    {
        PROFILE_SCOPE_DYNAMIC(name.c_str(), 1000);
        benchmark::ClobberMemory();
    }
}

void BM_TimedScopeDynamicAlternating(benchmark::State& state)
{
    const std::string names[] = {"Bench::Job/decode", "Bench::Job/mix", "Bench::Job/stream",
                                 "Bench::Job/resample"};
    size_t next = 0;
    for (auto _ : state)
    {
        PROFILE_SCOPE_DYNAMIC(names[next++ & 3].c_str(), 1000);
        benchmark::ClobberMemory();
    }
}

// The counters the OS offers for the POSIX counter, one read each.
template <clockid_t Clock> void BM_ClockRead(benchmark::State& state)
{
    timespec now;
    for (auto _ : state)
    {
        clock_gettime(Clock, &now);
        benchmark::DoNotOptimize(now);
    }
}

void BM_TimeStampCounterRead(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(__rdtsc());
}

} // namespace

BENCHMARK(BM_ServiceGetThreadID);
BENCHMARK(BM_ServicePeekThreadID);
BENCHMARK(BM_ServiceGetThreadData);
BENCHMARK(BM_PeerSharedLibraryThreadLocal);
BENCHMARK(BM_RawThreadLocal);
BENCHMARK(BM_KitCachedThreadRecord);
BENCHMARK(BM_EmptyLoop);
BENCHMARK(BM_TwoCounterReads);
BENCHMARK(BM_TwoTimeStampCounterReads);
BENCHMARK(BM_TwoClockReads);
BENCHMARK(BM_TimedScopeUnderThreshold);
BENCHMARK(BM_TimedScopeOverThreshold);
#if defined(BENCH_MICROPROFILE)
BENCHMARK(BM_PeerMicroProfileScope);
#endif
BENCHMARK(BM_TimedScopeRecursive);
BENCHMARK(BM_TimedScopeInline);
BENCHMARK(BM_TimedScopeTemplate);
BENCHMARK(BM_TimedScopeDynamic);
BENCHMARK(BM_TimedScopeDynamicAlternating);
BENCHMARK(BM_ClockRead<CLOCK_MONOTONIC>);
BENCHMARK(BM_ClockRead<CLOCK_MONOTONIC_RAW>);
BENCHMARK(BM_ClockRead<CLOCK_BOOTTIME>);
BENCHMARK(BM_TimeStampCounterRead);

BENCH_MAIN()
