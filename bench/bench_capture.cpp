// The continuous capture's costs with the default set-up: a timed scope during a capture
// against the same scope outside one, the writer's events per second of its busy time,
// the drops of four threads at 1 million calls per second in total for 10 s, and the bytes
// of an event in the file.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace
{

constexpr int kBatch = 16384; // calls between pauses: a quarter of a default capture ring

std::string CaptureFile()
{
    return (std::filesystem::temp_directory_path() / "bench_capture.json").string();
}

// Batches of timed calls; between them, outside the timing, the writer empties the ring, so
// that each call takes the ring's path and none is dropped.
void TimedBatches(benchmark::State& state)
{
    for (auto _ : state)
    {
        for (int i = 0; i < kBatch; ++i)
        {
            PROFILE_SCOPE("Bench::Capture", 0);
            benchmark::ClobberMemory();
        }
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_TimedScopeOutsideCapture(benchmark::State& state)
{
    TimedBatches(state);
}

void BM_TimedScopeDuringCapture(benchmark::State& state)
{
    ProfilerKitCaptureStart(CaptureFile().c_str(), nullptr);
    TimedBatches(state);
    ProfilerKitCaptureStop();
    SProfilerKitCaptureResult result{};
    ProfilerKitCaptureResult(&result);
    state.counters["dropped"] = static_cast<double>(result.m_DroppedCalls);
}

// Bursts that nearly fill the ring, each drained before the next: the writer's events per
// second of the time it spent draining, formatting and writing.
void BM_WriterEventsPerBusySecond(benchmark::State& state)
{
    SProfilerKitCaptureResult result{};
    for (auto _ : state)
    {
        ProfilerKitCaptureStart(CaptureFile().c_str(), nullptr);
        for (int burst = 0; burst < 32; ++burst)
        {
            for (int i = 0; i < 4 * kBatch - 64; ++i)
            {
                PROFILE_SCOPE("Bench::Writer", 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        ProfilerKitCaptureStop();
        ProfilerKitCaptureResult(&result);
        state.SetIterationTime(result.m_WriterBusySeconds);
    }
    state.counters["events_per_s"] =
        static_cast<double>(result.m_Events) / result.m_WriterBusySeconds;
    state.counters["bytes_per_event"] =
        static_cast<double>(result.m_Bytes) / static_cast<double>(result.m_Events);
    state.counters["dropped"] = static_cast<double>(result.m_DroppedCalls);
}

// Four threads, 250,000 calls a second each, paced per millisecond, for 10 s.
void BM_FourThreadsOneMillionCallsPerSecond(benchmark::State& state)
{
    SProfilerKitCaptureResult result{};
    for (auto _ : state)
    {
        ProfilerKitCaptureStart(CaptureFile().c_str(), nullptr);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([] {
                auto next = std::chrono::steady_clock::now();
                for (int ms = 0; ms < 10000; ++ms)
                {
                    for (int i = 0; i < 125; ++i)
                    {
                        PROFILE_SCOPE("Bench::Outer", 0);
                        PROFILE_SCOPE("Bench::Inner", 0);
                    }
                    next += std::chrono::milliseconds(1);
                    std::this_thread::sleep_until(next);
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        ProfilerKitCaptureStop();
        ProfilerKitCaptureResult(&result);
    }
    state.counters["dropped"] = static_cast<double>(result.m_DroppedCalls);
    state.counters["events"] = static_cast<double>(result.m_Events);
    state.counters["bytes_per_event"] =
        static_cast<double>(result.m_Bytes) / static_cast<double>(result.m_Events);
    state.counters["writer_busy_s"] = result.m_WriterBusySeconds;
    std::remove(CaptureFile().c_str());
}

} // namespace

// Outside and during interleave in repetitions, so the machine's load falls on both.
BENCHMARK(BM_TimedScopeOutsideCapture)->UseRealTime()->Iterations(300);
BENCHMARK(BM_TimedScopeDuringCapture)->UseRealTime()->Iterations(300);
BENCHMARK(BM_WriterEventsPerBusySecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_FourThreadsOneMillionCallsPerSecond)->UseRealTime()->Iterations(1)->Repetitions(1);

BENCH_MAIN()
