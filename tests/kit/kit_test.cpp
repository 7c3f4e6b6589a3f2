// The client kit as an application uses it, over the real shared library: its state after
// load, kit-using modules loaded before the set-up (module A's records come from three
// object files), bad set-ups, the trace read back with a JSON parser, timing in threads of
// every module while the report and the trace export read, a module unloaded, one log for
// the application, and the shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/debug/log.h"
#include "common/thread/thread.h"
#include "kit/profilerkit.h"
#include "platform/os.h"
#include "test_support.h"

#if defined(_WIN32)
#include <windows.h>
#define KIT_ENTRY(type, module, name)                                                              \
    reinterpret_cast<type>(                                                                        \
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(module), name)))
#else
#include <dlfcn.h>
#define KIT_ENTRY(type, module, name) reinterpret_cast<type>(dlsym(module, name))
#endif

namespace
{

typedef void (*RunFunc)(int iterations);
constexpr int kIterations = 1000, kOwners = 4;

std::string Report()
{
    const std::string path = testing::TempDir() + "kit_test_report.txt";
    FILE* file = std::fopen(path.c_str(), "wb");
    ProfilerKitReport(file);
    std::fclose(file);
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The report's first line after the title that ends with the name; empty when none does.
std::string ReportLine(const char* title, const std::string& name)
{
    const std::string report = Report();
    const size_t at = report.find("  " + name + "\n", report.find(title));
    const size_t begin = at == std::string::npos ? at : report.rfind('\n', at) + 1;
    return begin == at ? "" : report.substr(begin, at + name.size() + 2 - begin);
}

void OwnerStep(int iterations)
{
    for (int i = 0; i < iterations; ++i)
    {
        PROFILE_SCOPE("Owner::Step", 0);
        PROFILE_SCOPE("A2.0", 0); // a name that module A has too
    }
}

// A thread's work: two steps, each from any module.
void RunWork(void* arg)
{
    static_cast<RunFunc*>(arg)[0](kIterations);
    static_cast<RunFunc*>(arg)[1](kIterations);
}

std::vector<std::string> s_Lines;

} // namespace

TEST(Kit, ServesAnApplicationOfSeveralModulesFromSetUpToShutdown)
{
    SProfilerContext* context = GetProfiler();
    int32_t early = -1;
    EXPECT_EQ(context->RegisterScope(&early, "Early", 1.0f), PROFILER_SCOPE_NOT_READY);
    EXPECT_STREQ(context->GetThreadName(),
                 "Unknown Thread (Function temporarily disabled for Win32)");
    void* moduleA = OsModuleLoad(PC_KIT_MODULE_A);
    void* moduleB = OsModuleLoad(PC_KIT_MODULE_B);
    const SProfilerModule a = context->m_ProfilerLoadedProfilerModules[1];
    ASSERT_EQ(a.m_End - a.m_Begin, 24); // one array with no gap, recorded only
    EXPECT_TRUE(std::all_of(a.m_Begin, a.m_End, [](auto& r) { return r.m_Index == -1; }));

    // Bad parameters assert and change nothing; the last row is the set-up that follows.
    SCountingAllocator allocator;
    const std::tuple<SAllocator*, int32_t, int32_t, int32_t, const char*> cases[] = {
        {nullptr, 8, 8, 1, "missing allocator"},
        {allocator.Get(), PROFILER_KIT_MAX_SCOPES + 1, 8, 1, "PROFILER_KIT_MAX_SCOPES"},
        {allocator.Get(), 8, 8, 0, "m_FirstThreadID >= 1"},
        {allocator.Get(), 64, 5, 7, nullptr}, // a ring of 8
    };
    const auto* raw = reinterpret_cast<const unsigned char*>(context);
    const std::vector<unsigned char> before(raw, raw + sizeof(SProfilerContext));
    SProfilerInitParams params;
    for (const auto& [allocatorUsed, scopes, ring, first, expression] : cases)
    {
        std::tie(params.m_Allocator, params.m_NumScopeEntries, params.m_NumThreadEntries,
                 params.m_FirstThreadID) = std::tie(allocatorUsed, scopes, ring, first);
        if (expression == nullptr)
            break;
        CAssertRecorder recorder;
        EXPECT_FALSE(ProfilerKitInit(params)) << expression;
        EXPECT_TRUE(recorder.Expressions().size() == 1 && recorder.Saw(expression)) << expression;
        EXPECT_TRUE(std::equal(before.begin(), before.end(), raw)) << expression;
    }
    LogInit(SLogInitParams());
    LogSetCallback(
        [](ELogSeverity, const char* channel, const char*, const char* text, bool, uint32_t,
           uint32_t, int64_t, void*) {
            s_Lines.push_back(std::string(channel) + ": " + text);
            return true;
        },
        nullptr);
    ASSERT_TRUE(ProfilerKitInit(params));
    EXPECT_EQ(context->m_NumThreadEntries, 8u + 16u); // the ring, then 64 counters
    EXPECT_TRUE(std::all_of(a.m_Begin, a.m_End, [](auto& r) { return r.m_Index >= 0; }));

    // The trace: nesting, durations at least what the sleeps guarantee, frame marks around
    // the work, escaped names, the threshold, and a ring that keeps the latest calls.
    for (int i = 0; i < 10; ++i)
    {
        PROFILE_SCOPE("Trace::Tick", 0);
    }
    EXPECT_EQ(context->PeekThreadID(), 7u);
    PROFILE_FRAME();
    {
        PROFILE_SCOPE("Trace::Outer", 0);
        OsSleep(20);
        for (int i = 0; i < 2; ++i)
        {
            PROFILE_SCOPE("Trace::Inner \"quoted\" \\ \t", 0.9f); // 0.9 ms counts as 0
            OsSleep(5);
        }
        PROFILE_SCOPE("Trace::Below threshold", 1000);
    }
    PROFILE_FRAME();
    const std::string path = testing::TempDir() + "kit_test_trace.json";
    ASSERT_TRUE(ProfilerKitWriteTrace(path.c_str()));
    const nlohmann::json trace = nlohmann::json::parse(std::ifstream(path));
    std::map<std::string, std::vector<nlohmann::json>> events;
    for (const nlohmann::json& event : trace.at("traceEvents"))
        events[event.at("ph") == "X" ? event.at("name") : event.at("ph")].push_back(event);
    // Eight kept: the last five ticks, two inner calls, the outer call; one thread's name.
    const auto& inner = events["Trace::Inner \"quoted\" \\ \t"];
    const auto& frames = events["i"];
    ASSERT_TRUE(events.size() == 5 && events["Trace::Tick"].size() == 5 &&
                events["M"].size() == 1 && inner.size() == 2 && frames.size() == 2);
    const nlohmann::json outer = events["Trace::Outer"].at(0);
    const double start = outer.at("ts"), end = start + outer.at("dur").get<double>();
    EXPECT_GE(outer.at("dur").get<double>(), 30000.0);
    const double rounding = 0.002; // microseconds printed with three decimals
    double previousEnd = start;
    for (const nlohmann::json& call : inner)
    {
        EXPECT_GE(call.at("dur").get<double>(), 5000.0);
        EXPECT_GE(call.at("ts").get<double>() + rounding, previousEnd);
        previousEnd = call.at("ts").get<double>() + call.at("dur").get<double>();
        EXPECT_LE(previousEnd, end + rounding);
    }
    EXPECT_GE(previousEnd, start + 20000.0); // after the outer call's first sleep
    EXPECT_LE(frames[0].at("ts").get<double>(), start + rounding);
    EXPECT_GE(frames[1].at("ts").get<double>() + rounding, end);

    // Threads of every module time while the report and the export read. The first timed
    // scope picks the name: this executable's thread layer through the name slot, module
    // B's own thread layer, and the OS's name of a thread that B named.
    const auto runA = KIT_ENTRY(RunFunc, moduleA, "KitModuleARun");
    const auto workB = KIT_ENTRY(RunFunc, moduleB, "KitModuleBWork");
    const auto runThreadsB =
        KIT_ENTRY(void (*)(ThreadEntryFunc, void*, void*), moduleB, "KitModuleBRunThreads");
    const auto logB = KIT_ENTRY(void (*)(const char*), moduleB, "KitModuleBLog");
    ASSERT_TRUE(runA && workB && runThreadsB && logB);
    RunFunc ownerWork[] = {runA, &OwnerStep}, bWork[] = {workB, runA}, osWork[] = {runA, workB};
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread reporter([&] {
        FILE* scratch = std::tmpfile();
        for (; !done.load(); std::rewind(scratch))
            reads += ProfilerKitReport(scratch) + ProfilerKitWriteTrace(path.c_str());
        std::fclose(scratch);
        std::remove(path.c_str());
    });
    ThreadImpl* owners[kOwners];
    for (ThreadImpl*& owner : owners)
        owner = ThreadCreate("Owner thread with a long name", &RunWork, ownerWork, 0);
    runThreadsB(&RunWork, bWork, osWork);
    for (ThreadImpl* owner : owners)
        ThreadDestroy(owner);
    done = true;
    reporter.join();
    EXPECT_GT(reads.load(), 0);
    for (const char* name : {"Owner thread with a long name", "Bworker", "OSnamed"})
        EXPECT_NE(ReportLine("Threads:", name), "") << name;
    EXPECT_EQ(Report().rfind(std::string("Counter: ") + GetCounterName() + ", " +
                                 std::to_string(GetCounterFrequency()) + " Hz\n\nThreads:",
                             0),
              0u);
    // Totals over all threads, none lost: every thread ran module A, two module B, the
    // owners the owner step; a threshold of 0 ms counts every call.
    const std::pair<const char*, unsigned long long> expected[] = {
        {"A3.7", (kOwners + 2) * kIterations},
        {"B::Work", 2 * kIterations},
        {"Owner::Step", kOwners * kIterations}};
    for (const auto& [name, count] : expected)
    {
        unsigned long long calls = 0, over = 0;
        double total = 0, mean = 0, longest = 0; // unchecked columns
        std::istringstream(ReportLine("Timing", name)) >> calls >> total >> mean >> longest >> over;
        EXPECT_EQ(calls, count) << name;
        EXPECT_EQ(over, count) << name;
    }
    // Once module A is gone its names are released, a shared one re-pointed to this
    // executable's text.
    OsModuleUnload(moduleA);
    EXPECT_EQ(ReportLine("Scopes:", "A1.0"), "");
    EXPECT_NE(ReportLine("Scopes:", "(unloaded)"), "");
    EXPECT_NE(ReportLine("Scopes:", "A2.0"), "");

    // One log: B's line reaches this executable's log, until the kit's shutdown. The
    // shutdown gives the scope table back, and is final.
    logB("a line from module B");
    ProfilerKitShutdown();
    logB("after the shutdown");
    EXPECT_EQ(s_Lines, std::vector<std::string>{"PLUGIN: a line from module B"});
    EXPECT_EQ(allocator.Live(), 2 * context->m_NumThreads);
    CAssertRecorder recorder;
    EXPECT_FALSE(ProfilerKitInit(params));
    EXPECT_TRUE(recorder.Saw("set up already"));
    LogShutdown();
    OsModuleUnload(moduleB);
}
