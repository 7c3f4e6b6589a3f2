// Lines per second to a file with a flush after every line: the log against spdlog's
// basic file sink flushed at every level, and against the floor of one fprintf and one
// fflush per line; one thread and two.
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "common/debug/log.h"

namespace
{

std::string OutputPath(const char* name)
{
    return (std::filesystem::temp_directory_path() / name).string();
}

void BM_Log(benchmark::State& state)
{
    static SLogOutput s_Output = {std::fopen(OutputPath("bench_log.txt").c_str(), "w"), E_LOG_INFO,
                                  false, false};
    static bool s_Ready = [] {
        SLogInitParams params;
        params.m_Outputs[0] = &s_Output;
        LogInit(params);
        return true;
    }();
    (void)s_Ready;
    int i = 0;
    for (auto _ : state)
        LogWrite(E_LOG_INFO, "BENCH", __FILE__, __LINE__, "frame %d took %d us", ++i, 42);
    state.SetItemsProcessed(state.iterations());
}

void BM_Spdlog(benchmark::State& state)
{
    static std::shared_ptr<spdlog::logger> s_Logger = [] {
        auto logger = spdlog::basic_logger_mt("bench", OutputPath("bench_spdlog.txt"), true);
        logger->set_pattern("%-8l%-16n %v"); // a 24-column severity and channel field
        logger->flush_on(spdlog::level::trace);
        return logger;
    }();
    int i = 0;
    for (auto _ : state)
        s_Logger->info("frame {} took {} us", ++i, 42);
    state.SetItemsProcessed(state.iterations());
}

void BM_FprintfFflush(benchmark::State& state)
{
    static FILE* s_File = std::fopen(OutputPath("bench_floor.txt").c_str(), "w");
    int i = 0;
    for (auto _ : state)
    {
        std::fprintf(s_File, "INFO:BENCH:              frame %d took %d us\n", ++i, 42);
        std::fflush(s_File);
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_Log)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Spdlog)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_FprintfFflush)->Threads(1)->Threads(2)->UseRealTime();

BENCH_MAIN()
