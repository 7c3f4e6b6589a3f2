// The client kit as an application uses it, over the real shared library: its state after
// load, kit-using modules loaded before the set-up, bad set-ups, the trace read back with a JSON
// parser, timing in threads of every module while the report and the trace export read, a module
// unloaded, one log for the application, and the shutdown.
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
#include "module/kit_module.h"
#include "platform/os.h"
#include "test_support.h"

#define KIT_ENTRY(type, module, name) reinterpret_cast<type>(OsModuleEntry(module, name))

namespace
{

typedef void (*RunFunc)(int iterations);
constexpr int kIterations = 1000, kOwners = 4;

// The report's first line after the title that ends with the name; empty when none does.
std::string ReportLine(const char* title, const std::string& name)
{
    const std::string path = testing::TempDir() + "kit_test_report.txt";
    FILE* file = std::fopen(path.c_str(), "wb");
    ProfilerKitReport(file);
    std::fclose(file);
    std::ifstream in(path, std::ios::binary);
    const std::string report(std::istreambuf_iterator<char>(in), {});
    const size_t at = report.find("  " + name + "\n", report.find(title));
    const size_t begin = at == std::string::npos ? at : report.rfind('\n', at) + 1;
    return begin == at ? "" : report.substr(begin, at + name.size() + 2 - begin);
}

void OwnerStep(int iterations)
{
    for (int i = 0; i < iterations; ++i)
    {
        PROFILE_SCOPE("Owner::Step", 0);
        KitSharedInline(); // a scope of header-only code that modules A and B have too
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
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 3); // this executable, A and B

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
            PROFILE_SCOPE("Trace::Inner \"quoted\" \\ \t", 0.9f);
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
    // Totals over all threads, none lost: every thread ran module A, two module B, the
    // owners the owner step; a threshold of 0 ms counts every call.
    const std::pair<const char*, unsigned long long> expected[] = {
        {"A::FunctionTemplate", 2 * (kOwners + 2) * kIterations},
        {"B::Work", 2 * kIterations},
        {"Shared::Inline", (2 * kOwners + 4) * kIterations},
        {"Owner::Step", kOwners * kIterations}};
    for (const auto& [name, count] : expected)
    {
        unsigned long long calls = 0, over = 0;
        double total = 0, mean = 0, longest = 0; // unchecked columns
        std::istringstream(ReportLine("Timing", name)) >> calls >> total >> mean >> longest >> over;
        EXPECT_EQ(calls, count) << name;
        EXPECT_EQ(over, count) << name;
    }
    OsModuleUnload(moduleA);

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

TEST(Kit, NamesEveryKindOfScopeAfterItsModuleLeavesAndLeavesOutWhatItCannotServe)
{
    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams())); // a ring of 1024 calls keeps them all
    SProfilerContext* context = GetProfiler();
    void* moduleB = OsModuleLoad(PC_KIT_MODULE_B);
    KIT_ENTRY(RunFunc, moduleB, "KitModuleBWork")(1);
    std::atomic<bool> done{false};
    std::thread reporter([&done] { // reads the tables while modules come and go
        FILE* scratch = std::tmpfile();
        for (; !done.load(); std::rewind(scratch))
            ProfilerKitReport(scratch);
        std::fclose(scratch);
    });
    for (int round = 0; round < 2; ++round)
    {
        void* moduleA = OsModuleLoad(PC_KIT_MODULE_A);
        KIT_ENTRY(RunFunc, moduleA, "KitModuleARun")(1);
        EXPECT_TRUE(OsModuleMapped(PC_KIT_MODULE_A));
        OsModuleUnload(moduleA);
        EXPECT_FALSE(OsModuleMapped(PC_KIT_MODULE_A)) << "still mapped after unload " << round;
    }
    done = true;
    reporter.join();
    {
        PROFILE_SCOPE("Physics::Step3207", 0.25); // the same lookup3 hash as the next one
        OsSleep(1);
    }
    for (const char* label : {"Physics::Step26213", "Job::0", "Job::1", "Job::2"})
    {
        std::string buffer = label; // gone before the report reads the name
        PROFILE_SCOPE_DYNAMIC(buffer.c_str(), 0);
        OsSleep(1); // over the first text's threshold
    }
    // Calls in two rounds, by name; the shared header's inline function stays in use by B.
    const std::pair<unsigned long long, std::vector<const char*>> cases[] = {
        {1, {"B::Work", "Job::0", "Job::1", "Job::2"}},
        {2,
         {"A::Plain (unloaded)", "A::Inline (unloaded)", "A::Member (unloaded)",
          "A::Lambda (unloaded)", "Physics::Step3207 | Physics::Step26213"}},
        {3, {"Shared::Inline"}},
        {4,
         {"A::FunctionTemplate (unloaded)", "A::ClassTemplate (unloaded)",
          "Shared::Template (unloaded)"}}};
    const std::string path = testing::TempDir() + "kit_test_names.json";
    ASSERT_TRUE(ProfilerKitWriteTrace(path.c_str()));
    std::map<std::string, unsigned long long> traced;
    const nlohmann::json trace = nlohmann::json::parse(std::ifstream(path));
    for (const nlohmann::json& event : trace.at("traceEvents"))
        traced[event.at("name")] += event.at("ph") == "X";
    std::remove(path.c_str());
    for (const auto& [count, names] : cases)
        for (const char* name : names)
        {
            unsigned long long calls = 0;
            std::istringstream(ReportLine("Timing", name)) >> calls;
            EXPECT_TRUE(calls == count && traced[name] == count) << name;
        }
    EXPECT_EQ(traced.size(), 13u + 1); // and the thread's name
    // The first text's threshold, to the fraction: 0.25 ms, not truncated to 0.
    EXPECT_NE(ReportLine("Scopes:", "Physics::Step3207 | Physics::Step26213").find(" 0.250 "),
              std::string::npos);

    // A module built against another kit version stays idle: one warning in its own log.
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    header->m_Version = PROFILER_KIT_VERSION + 1;
    testing::internal::CaptureStderr();
    void* module = OsModuleLoad(PC_KIT_MODULE_A);
    KIT_ENTRY(RunFunc, module, "KitModuleARun")(3);
    const std::string warned = testing::internal::GetCapturedStderr();
    header->m_Version = PROFILER_KIT_VERSION;
    OsModuleUnload(module);
    const auto once = [](const std::string& text, const char* what) {
        return text.find(what) != std::string::npos && text.find(what) == text.rfind(what);
    };
    EXPECT_TRUE(once(warned, "the module times nothing")) << warned;
    EXPECT_EQ(ReportLine("Timing", "A::Plain (unloaded)").rfind("         2  ", 0), 0u);
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 2); // this executable and B

    // Loaded twice as the 33rd module, A stays out of the table with one warning; timed.
    static SProfilerStaticScope s_Others[PROFILER_MAX_MODULES] = {}; // empty arrays, unnamed
    for (int m = 2; m < PROFILER_MAX_MODULES; ++m)
        context->RegisterModule(&s_Others[m], &s_Others[m]);
    testing::internal::CaptureStderr(); // the owner's log, uninitialised here
    for (int load = 0; load < 2; ++load)
    {
        module = OsModuleLoad(PC_KIT_MODULE_A);
        KIT_ENTRY(RunFunc, module, "KitModuleARun")(1);
        OsModuleUnload(module);
    }
    const std::string full = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(once(full, "The profiler's module table is full (32 modules)")) << full;
    EXPECT_EQ(ReportLine("Timing", "A::Plain (unloaded)").rfind("         4  ", 0), 0u);
    EXPECT_NE(ReportLine("Modules: 32, 2 more left out (the table holds 32)\n", "file"), "");
}
