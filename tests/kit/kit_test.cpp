// The client kit as an application uses it: the owner's set-up and tear-down, kit-using
// modules loaded and unloaded at run time (module A's records come from three object
// files), timing in threads of every module while the report and the trace export read,
// one log for the application, and the trace read back with a JSON parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/debug/log.h"
#include "common/thread/thread.h"
#include "kit/profilerkit.h"
#include "kit/profilerkit_layout.h"
#include "platform/os.h"
#include "test_support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace
{

template <typename F> F Entry(void* module, const char* name)
{
#if defined(_WIN32)
    return reinterpret_cast<F>(
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(module), name)));
#else
    return reinterpret_cast<F>(dlsym(module, name));
#endif
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string Report()
{
    const std::string path = testing::TempDir() + "kit_test_report.txt";
    FILE* file = std::fopen(path.c_str(), "w");
    const bool written = ProfilerKitReport(file);
    std::fclose(file);
    return written ? ReadFile(path) : "(no report)";
}

// The first line after the title that ends with the name; empty when there is none.
std::string ReportLine(const std::string& report, const char* title, const std::string& name)
{
    const size_t at = report.find("  " + name + "\n", report.find(title));
    if (at == std::string::npos)
        return std::string();
    const size_t begin = report.rfind('\n', at) + 1;
    return report.substr(begin, at + name.size() + 2 - begin);
}

void Sleep(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void TimedOnce()
{
    PROFILE_SCOPE("Init::Timed", 3);
}

void Work()
{
    PROFILE_SCOPE("Trace::Outer", 0);
    Sleep(20);
    for (int i = 0; i < 2; ++i)
    {
        PROFILE_SCOPE("Trace::Inner \"quoted\" \\ \t", 0.9f); // 0.9 ms counts as 0
        Sleep(5);
    }
    PROFILE_SCOPE("Trace::Below threshold", 1000);
}

typedef void (*RunFunc)(int iterations);
constexpr int kIterations = 1000, kOwners = 4;

struct SWork
{
    RunFunc m_First, m_Second;
};

void OwnerStep(int iterations)
{
    for (int i = 0; i < iterations; ++i)
    {
        PROFILE_SCOPE("Owner::Step", 0);
    }
}

void RunWork(void* arg)
{
    static_cast<const SWork*>(arg)->m_First(kIterations);
    static_cast<const SWork*>(arg)->m_Second(kIterations);
}

std::vector<std::string> s_Lines;

} // namespace

TEST(Kit, BadParametersAssertAndChangeNothingThenASetUpServesUntilShutdown)
{
    SCountingAllocator allocator;
    const struct
    {
        SAllocator* m_Allocator;
        int32_t m_Scopes, m_Ring, m_First;
        const char* m_Expression;
    } cases[] = {
        {nullptr, 8, 8, 1, "missing allocator"},
        {allocator.Get(), 0, 8, 1, "m_NumScopeEntries > 0"},
        {allocator.Get(), PROFILER_KIT_MAX_SCOPES + 1, 8, 1, "PROFILER_KIT_MAX_SCOPES"},
        {allocator.Get(), 8, 0, 1, "m_NumThreadEntries > 0"},
        {allocator.Get(), 8, 8, 0, "m_FirstThreadID >= 1"},
        {allocator.Get(), 32, 100, 7, nullptr}, // the good set-up below
    };
    SProfilerContext* context = GetProfiler();
    const auto* raw = reinterpret_cast<const unsigned char*>(context);
    const std::vector<unsigned char> before(raw, raw + sizeof(SProfilerContext));
    SProfilerInitParams params;
    for (const auto& c : cases)
    {
        params.m_Allocator = c.m_Allocator;
        params.m_NumScopeEntries = c.m_Scopes;
        params.m_NumThreadEntries = c.m_Ring;
        params.m_FirstThreadID = c.m_First;
        if (c.m_Expression == nullptr)
            break;
        CAssertRecorder recorder;
        EXPECT_FALSE(ProfilerKitInit(params)) << c.m_Expression;
        EXPECT_EQ(recorder.Count(), 1u) << c.m_Expression;
        EXPECT_TRUE(recorder.Saw(c.m_Expression)) << c.m_Expression;
        EXPECT_TRUE(std::equal(before.begin(), before.end(), raw)) << c.m_Expression;
    }
    EXPECT_EQ(allocator.m_Allocations.load(), 0);

    const ProfilerGetThreadNameFunc libraryName = context->GetThreadName;
    ASSERT_TRUE(ProfilerKitInit(params));
    EXPECT_EQ(context->m_NumThreadEntries, 128u + 8u); // a ring of 128, then 32 counters
    EXPECT_NE(context->GetThreadName, libraryName);
    TimedOnce();
    EXPECT_EQ(context->PeekThreadID(), 7u);
    // This executable's records were recorded at load and registered by the set-up.
    const SProfilerModule self = context->m_ProfilerLoadedProfilerModules[0];
    const SProfilerStaticScope* timed = std::find_if(self.m_Begin, self.m_End, [](auto& record) {
        return std::strcmp(record.m_Name, "Init::Timed") == 0;
    });
    ASSERT_NE(timed, self.m_End);
    EXPECT_EQ(context->m_Scopes[timed->m_Index].m_ThresholdTicks,
              uint32_t(GetCounterFrequency() * 3 / 1000));
    const auto* entries =
        static_cast<SProfilerKitScopeEntry*>(context->m_Threads[0].m_ScopeEntries);
    EXPECT_EQ(entries[timed->m_Index].m_Calls, 1u);

    ASSERT_EQ(allocator.Live(), 3); // the scope table and one thread's two buffers
    ProfilerKitShutdown();
    EXPECT_EQ(allocator.Live(), 2); // the thread's buffers stay
    EXPECT_EQ(context->m_BigLock, nullptr);
    EXPECT_EQ(context->m_Scopes, nullptr);
    EXPECT_EQ(context->GetThreadName, libraryName);
    EXPECT_FALSE(ProfilerKitReport(stdout));
    CAssertRecorder recorder;
    EXPECT_FALSE(ProfilerKitInit(params)); // a shutdown is final
    EXPECT_TRUE(recorder.Saw("set up already"));
}

TEST(Kit, ThreadsOfEveryModuleTimeWhileTheReportRunsAndLogLinesReachTheOwner)
{
    SProfilerContext* context = GetProfiler();
    void* moduleA = OsModuleLoad(PC_KIT_MODULE_A);
    void* moduleB = OsModuleLoad(PC_KIT_MODULE_B);
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 3); // this executable, A, B
    // A's records form one array with no gap: recorded at load, registered at set-up.
    const SProfilerModule a = context->m_ProfilerLoadedProfilerModules[1];
    ASSERT_EQ(a.m_End - a.m_Begin, 24);
    EXPECT_TRUE(std::all_of(a.m_Begin, a.m_End, [](auto& r) { return r.m_Index == -1; }));
    SLogInitParams logParams;
    logParams.m_Outputs[0] = nullptr;
    LogInit(logParams);
    LogSetCallback(
        [](ELogSeverity, const char* channel, const char*, const char* text, bool, uint32_t,
           uint32_t, int64_t, void*) {
            s_Lines.push_back(std::string(channel) + ": " + text);
            return true;
        },
        nullptr);
    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams()));
    std::set<int32_t> indices;
    for (const SProfilerStaticScope* record = a.m_Begin; record < a.m_End; ++record)
        indices.insert(record->m_Index);
    EXPECT_EQ(indices.size(), 24u);
    EXPECT_GE(*indices.begin(), 0);

    const auto runA = Entry<RunFunc>(moduleA, "KitModuleARun");
    const auto workB = Entry<RunFunc>(moduleB, "KitModuleBWork");
    const auto startB = Entry<ThreadImpl* (*)(const char*, ThreadEntryFunc, void*)>(
        moduleB, "KitModuleBStartThread");
    const auto joinB = Entry<void (*)(ThreadImpl*)>(moduleB, "KitModuleBJoinThread");
    const auto logB = Entry<void (*)(const char*)>(moduleB, "KitModuleBLog");
    ASSERT_TRUE(runA && workB && startB && joinB && logB);
    // The first timed scope picks the name: this executable's thread layer through the
    // name slot, module B's own thread layer, and the OS's name of a thread that B named.
    SWork ownerWork = {runA, &OwnerStep}, bWork = {workB, runA}, osWork = {runA, workB};
    std::atomic<bool> done{false};
    std::atomic<int> reports{0}, traces{0};
    const std::string trace = testing::TempDir() + "kit_test_trace.json";
    std::thread reporter([&] {
        FILE* scratch = std::tmpfile();
        for (; !done.load(); std::rewind(scratch))
        {
            reports += ProfilerKitReport(scratch) ? 1 : 0;
            traces += ProfilerKitWriteTrace(trace.c_str()) ? 1 : 0;
        }
        std::fclose(scratch);
    });
    ThreadImpl* owners[kOwners];
    for (ThreadImpl*& owner : owners)
        owner = ThreadCreate("Owner thread with a long name", &RunWork, &ownerWork, 0);
    ThreadImpl* inB[] = {startB("Bworker", &RunWork, &bWork), startB("OSnamed", &RunWork, &osWork)};
    for (ThreadImpl* owner : owners)
        ThreadDestroy(owner);
    joinB(inB[0]);
    joinB(inB[1]);
    const std::string report = Report();
    OsModuleUnload(moduleA); // while the report and the export read the names
    done = true;
    reporter.join();
    std::remove(trace.c_str());
    EXPECT_GT(reports.load(), 0);
    EXPECT_GT(traces.load(), 0);

    for (const char* name : {"Owner thread with a long name", "Bworker", "OSnamed"})
        EXPECT_NE(ReportLine(report, "Threads:", name), "") << name << "\n" << report;
    EXPECT_NE(report.find("       24  "), std::string::npos) << report; // module A's records
    // Totals over all threads, none lost: every thread ran module A, two module B, the
    // owners the owner step; a threshold of 0 ms counts every call.
    const std::pair<const char*, unsigned long long> expected[] = {
        {"A3.7", (kOwners + 2) * kIterations},
        {"B::Work", 2 * kIterations},
        {"Owner::Step", kOwners * kIterations}};
    for (const auto& [name, count] : expected)
    {
        unsigned long long calls = 0, over = 0;
        double total = 0, mean = 0, longest = 0;
        std::sscanf(ReportLine(report, "Timing", name).c_str(), "%llu %lf %lf %lf %llu", &calls,
                    &total, &mean, &longest, &over);
        EXPECT_EQ(calls, count) << name << "\n" << report;
        EXPECT_EQ(over, count) << name;
        EXPECT_LE(longest, mean * static_cast<double>(calls) + 0.001) << name;
    }
    // Once module A is gone its names are released.
    const std::string unloaded = Report();
    EXPECT_EQ(ReportLine(unloaded, "Scopes:", "A1.0"), "");
    EXPECT_NE(ReportLine(unloaded, "Scopes:", "(unloaded)"), "") << unloaded;

    // One log: B's line reaches this executable's log, until the kit's shutdown.
    logB("a line from module B");
    ProfilerKitShutdown();
    logB("after the shutdown");
    EXPECT_EQ(s_Lines, std::vector<std::string>{"PLUGIN: a line from module B"});
    LogShutdown();
    OsModuleUnload(moduleB);
}

// Nesting, durations at least what the sleeps guarantee, frame marks around the work,
// escaped names, the threshold, and a ring that keeps the most recent calls.
TEST(Kit, TheTraceParsedBackShowsNestedCallsFramesAndTheLatestCalls)
{
    SProfilerInitParams params;
    params.m_NumThreadEntries = 5; // a ring of 8
    ASSERT_TRUE(ProfilerKitInit(params));
    for (int i = 0; i < 10; ++i)
    {
        PROFILE_SCOPE("Trace::Tick", 0);
    }
    PROFILE_FRAME();
    Work();
    PROFILE_FRAME();
    const std::string path = testing::TempDir() + "kit_test_trace.json";
    ASSERT_TRUE(ProfilerKitWriteTrace(path.c_str()));
    const nlohmann::json trace = nlohmann::json::parse(ReadFile(path));
    std::remove(path.c_str());

    std::map<std::string, std::vector<nlohmann::json>> events;
    for (const nlohmann::json& event : trace.at("traceEvents"))
        events[event.at("ph") == "X" ? event.at("name") : event.at("ph")].push_back(event);
    // Eight kept: the last five ticks, two inner calls, the outer call.
    EXPECT_EQ(events.size(), 5u);
    EXPECT_EQ(events["Trace::Tick"].size(), 5u);
    ASSERT_EQ(events["M"].size(), 1u);
    EXPECT_NE(events["M"][0].at("args").at("name"), ""); // this thread's name
    const std::vector<nlohmann::json>& inner = events["Trace::Inner \"quoted\" \\ \t"];
    const std::vector<nlohmann::json>& outer = events["Trace::Outer"];
    const std::vector<nlohmann::json>& frames = events["i"];
    ASSERT_EQ(outer.size(), 1u);
    ASSERT_EQ(inner.size(), 2u);
    ASSERT_EQ(frames.size(), 2u);

    const double start = outer[0].at("ts"), end = start + outer[0].at("dur").get<double>();
    EXPECT_GE(outer[0].at("dur").get<double>(), 30000.0);
    const double rounding = 0.002; // microseconds printed with three decimals
    double previousEnd = start;
    for (const nlohmann::json& call : inner)
    {
        EXPECT_EQ(call.at("tid"), outer[0].at("tid"));
        EXPECT_EQ(call.at("pid"), outer[0].at("pid"));
        EXPECT_GE(call.at("dur").get<double>(), 5000.0);
        EXPECT_GE(call.at("ts").get<double>() + rounding, previousEnd);
        previousEnd = call.at("ts").get<double>() + call.at("dur").get<double>();
        EXPECT_LE(previousEnd, end + rounding);
    }
    EXPECT_GE(previousEnd, start + 20000.0); // after the outer call's first sleep
    EXPECT_EQ(frames[0].at("s"), "g");
    EXPECT_LE(frames[0].at("ts").get<double>(), start + rounding);
    EXPECT_GE(frames[1].at("ts").get<double>() + rounding, end);
}
