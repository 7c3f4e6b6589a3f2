// The registration paths: RegisterScope for 4,096 distinct names (each call site's first
// registration, so the linear search grows with the table), and a module of 1,000 records
// loaded and unloaded.
#include <string>
#include <vector>

#include "bench_support.h"

namespace
{

constexpr int kNames = 4096;

std::vector<std::string> Names(int count, const char* prefix)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(prefix + std::to_string(i));
    return names;
}

// Time per registration while the table fills from 0 to 4,096 names. The table is emptied
// between rounds (the benchmark owns the process's context).
void BM_RegisterScope4096Names(benchmark::State& state)
{
    static const std::vector<std::string> s_Names = Names(kNames, "Scope::");
    SProfilerContext* context = GetProfiler();
    std::vector<int32_t> slots(kNames, -1);
    for (auto _ : state)
    {
        for (int i = 0; i < kNames; ++i)
            benchmark::DoNotOptimize(context->RegisterScope(&slots[i], s_Names[i].c_str(), 1.0f));
        state.PauseTiming();
        context->m_NumScopes = 0;
        std::fill(slots.begin(), slots.end(), -1);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kNames);
}

// A freshly loaded module: its 1,000 records with negative slots, names already known to
// the table after the first round (as when a plug-in is loaded again).
void BM_ModuleLoadUnload1000(benchmark::State& state)
{
    static const std::vector<std::string> s_Names = Names(1000, "Module::");
    std::vector<SProfilerStaticScope> records(1000);
    SProfilerContext* context = GetProfiler();
    context->m_NumScopes = 0;
    for (auto _ : state)
    {
        for (size_t i = 0; i < records.size(); ++i)
            records[i] = {-1, 1.0f, s_Names[i].c_str()};
        context->RegisterModule(records.data(), records.data() + records.size());
        context->UnregisterModule(records.data());
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_RegisterScope4096Names)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModuleLoadUnload1000)->Unit(benchmark::kMillisecond);

BENCH_MAIN(kNames)
