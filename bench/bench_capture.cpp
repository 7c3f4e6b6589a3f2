// The continuous capture's costs with the default set-up: a timed scope during a capture
// against the same scope outside one, the writer's events per second of its busy time,
// the drops of four threads at 1 million calls per second in total for 10 s, and the bytes
// of an event in the file.
#include <algorithm>
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

constexpr int kBatch = 16384; // calls timed at once: a quarter of a default capture ring

std::string CaptureFile()
{
    return (std::filesystem::temp_directory_path() / "bench_capture.json").string();
}

double BatchNs() // one batch of timed calls, in nanoseconds per call
{
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i)
    {
        PROFILE_SCOPE("Bench::Capture", 0);
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - begin;
    return spent.count() / kBatch;
}

// Pairs of batches, one outside a capture and one during it, taken back to back so that
// the load of a shared machine falls on both alike; the median of the pairs' ratios. A
// capture's start and stop (a thread created or joined, a file opened or closed) slow the
// calls right after them, so an untimed batch follows each. Each capture is fresh, its ring
// empty: every call takes the ring's path and none is dropped.
void BM_TimedScopeDuringCaptureOverOutside(benchmark::State& state)
{
    std::vector<double> outside, during, ratios;
    SProfilerKitCaptureResult result{};
    double dropped = 0;
    for (auto _ : state)
    {
        ProfilerKitCaptureStart(CaptureFile().c_str(), nullptr);
        BatchNs();
        during.push_back(BatchNs());
        ProfilerKitCaptureStop();
        ProfilerKitCaptureResult(&result);
        dropped += static_cast<double>(result.m_DroppedCalls);
        BatchNs();
        outside.push_back(BatchNs());
        ratios.push_back(during.back() / outside.back());
        state.SetIterationTime((during.back() + outside.back()) * kBatch * 1e-9);
    }
    const auto median = [](std::vector<double> values) {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    state.counters["dropped"] = dropped;
    state.counters["outside_ns"] = median(outside);
    state.counters["during_ns"] = median(during);
    state.counters["ratio"] = median(ratios);
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

BENCHMARK(BM_TimedScopeDuringCaptureOverOutside)->UseManualTime()->Iterations(400);
BENCHMARK(BM_WriterEventsPerBusySecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_FourThreadsOneMillionCallsPerSecond)->UseRealTime()->Iterations(1)->Repetitions(1);

BENCH_MAIN()
