// Kit-using modules loaded and unloaded at run time: one record array per module from
// several object files, threads named by any module's thread layer or by the OS, timing
// in several threads while another prints the report and exports the trace, and one log
// for the application.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/debug/log.h"
#include "common/thread/thread.h"
#include "kit/profilerkit.h"
#include "kit_test_support.h"
#include "platform/os.h"

namespace
{

typedef void (*RunFunc)(int iterations);
typedef ThreadImpl* (*StartThreadFunc)(const char* name, ThreadEntryFunc entry, void* arg);
typedef void (*JoinThreadFunc)(ThreadImpl* thread);
typedef void (*LogFunc)(const char* text);

constexpr int ITERATIONS = 1000;

struct SWork
{
    RunFunc m_First;
    RunFunc m_Second;
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
    const SWork* work = static_cast<const SWork*>(arg);
    work->m_First(ITERATIONS);
    work->m_Second(ITERATIONS);
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

} // namespace

TEST(KitModules, RecordsFromSeveralObjectFilesFormOneArrayRegisteredAtSetUp)
{
    SProfilerContext* context = GetProfiler();
    void* moduleA = OsModuleLoad(PC_KIT_MODULE_A);
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 2); // this executable, then A
    const SProfilerModule a = context->m_ProfilerLoadedProfilerModules[1];
    ASSERT_EQ(a.m_End - a.m_Begin, 24); // no gap and no foreign data between the records
    for (const SProfilerStaticScope* record = a.m_Begin; record < a.m_End; ++record)
        EXPECT_TRUE(record->m_Name != nullptr && record->m_Index == -1); // recorded only

    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams()));
    std::set<int32_t> indices;
    for (const SProfilerStaticScope* record = a.m_Begin; record < a.m_End; ++record)
        indices.insert(record->m_Index);
    EXPECT_EQ(indices.size(), 24u); // 24 names, registered by the set-up
    EXPECT_GE(*indices.begin(), 0);
    OsModuleUnload(moduleA);
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 1);
}

TEST(KitModules, ThreadsOfEveryModuleTimeWhileTheReportRunsAndLogLinesReachTheOwner)
{
    static std::vector<std::string> s_Lines;
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

    void* moduleA = OsModuleLoad(PC_KIT_MODULE_A);
    void* moduleB = OsModuleLoad(PC_KIT_MODULE_B);
    const auto runA = KitEntry<RunFunc>(moduleA, "KitModuleARun");
    const auto workB = KitEntry<RunFunc>(moduleB, "KitModuleBWork");
    const auto startB = KitEntry<StartThreadFunc>(moduleB, "KitModuleBStartThread");
    const auto joinB = KitEntry<JoinThreadFunc>(moduleB, "KitModuleBJoinThread");
    const auto logB = KitEntry<LogFunc>(moduleB, "KitModuleBLog");
    ASSERT_TRUE(runA && workB && startB && joinB && logB);

    // The first timed scope picks the name: this executable's thread layer through slot 10,
    // module B's own thread layer, and the OS's name of a thread that B created and named.
    SWork ownerWork = {runA, &OwnerStep}, bWork = {workB, runA}, osWork = {runA, workB};
    // Stress, bounded: the report and the trace export read while the threads time.
    constexpr int kOwners = 4;
    std::atomic<bool> done{false};
    std::atomic<int> reports{0}, traces{0};
    FILE* scratch = std::tmpfile();
    const std::string trace = testing::TempDir() + "kit_module_test_trace.json";
    std::thread reporter([&] {
        for (; !done.load(); std::rewind(scratch))
        {
            reports += ProfilerKitReport(scratch) ? 1 : 0;
            traces += ProfilerKitWriteTrace(trace.c_str()) ? 1 : 0;
        }
    });
    ThreadImpl* owners[kOwners];
    for (ThreadImpl*& owner : owners)
        owner = ThreadCreate("Owner thread with a long name", &RunWork, &ownerWork, 0);
    ThreadImpl* inB[] = {startB("Bworker", &RunWork, &bWork), startB("OSnamed", &RunWork, &osWork)};
    for (ThreadImpl* owner : owners)
        ThreadDestroy(owner);
    joinB(inB[0]);
    joinB(inB[1]);
    done = true;
    reporter.join();
    std::fclose(scratch);
    std::remove(trace.c_str());
    EXPECT_GT(reports.load(), 0);
    EXPECT_GT(traces.load(), 0);
    std::printf("[ stress ] %d timed calls on %d threads while %d reports and %d traces read\n",
                (kOwners + 2) * 25 * ITERATIONS, kOwners + 2, reports.load(), traces.load());

    logB("a line from module B");
    FILE* stream = std::tmpfile();
    ASSERT_TRUE(ProfilerKitReport(stream));
    OsModuleUnload(moduleA);
    ASSERT_TRUE(ProfilerKitReport(stream));
    const std::string report = KitReadStream(stream);
    std::fclose(stream);

    for (const char* name : {"Owner thread with a long name", "Bworker", "OSnamed"})
        EXPECT_NE(ReportLine(report, "Threads:", name), "") << name << "\n" << report;
    EXPECT_NE(report.find("       24  "), std::string::npos) << report; // module A's records
    // Totals over all threads, none lost: every thread ran module A, two module B, the owners
    // the owner step.
    const std::pair<const char*, unsigned long long> expected[] = {
        {"A3.7", (kOwners + 2) * ITERATIONS},
        {"B::Work", 2 * ITERATIONS},
        {"Owner::Step", kOwners * ITERATIONS}};
    for (const auto& [name, count] : expected)
    {
        unsigned long long calls = 0, over = 0;
        double total = 0, mean = 0, longest = 0;
        std::sscanf(ReportLine(report, "Timing", name).c_str(), "%llu %lf %lf %lf %llu", &calls,
                    &total, &mean, &longest, &over);
        EXPECT_EQ(calls, count) << name << "\n" << report;
        EXPECT_EQ(over, count) << name; // a threshold of 0 ms counts every call
        EXPECT_LE(longest, mean * static_cast<double>(calls) + 0.001) << name;
    }
    // Once module A is gone its names are released: the second report shows them unloaded.
    const std::string second = report.substr(report.rfind("Threads:"));
    EXPECT_EQ(ReportLine(second, "Scopes:", "A1.0"), "");
    EXPECT_NE(ReportLine(second, "Scopes:", "(unloaded)"), "");

    // One log: B's line reached this executable's log, until the kit's shutdown.
    EXPECT_EQ(s_Lines, std::vector<std::string>{"PLUGIN: a line from module B"});
    ProfilerKitShutdown();
    logB("after the shutdown");
    EXPECT_EQ(s_Lines.size(), 1u);
    LogShutdown();
    OsModuleUnload(moduleB);
}
