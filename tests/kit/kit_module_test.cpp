// Kit-using modules loaded and unloaded at run time: one record array per module from
// several object files, threads named by any module's thread layer or by the OS, timing
// in several threads while another prints the report, and one log for the application.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/debug/log.h"
#include "common/thread/thread.h"
#include "kit/profilerkit.h"
#include "kit_test_support.h"

namespace
{

typedef void (*RunFunc)(int iterations);
typedef ThreadImpl* (*StartThreadFunc)(const char* name, ThreadEntryFunc entry, void* arg);
typedef void (*JoinThreadFunc)(ThreadImpl* thread);
typedef void (*LogFunc)(const char* text);

constexpr int ITERATIONS = 200;

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

// A report's table: from its title up to the blank line after it.
std::string Table(const std::string& report, const std::string& title)
{
    const size_t begin = report.find(title);
    if (begin == std::string::npos)
        return std::string();
    return report.substr(begin, report.find("\n\n", begin) - begin);
}

// The line of a table that ends with the name; empty when there is none.
std::string TableLine(const std::string& table, const std::string& name)
{
    const std::string suffix = "  " + name + "\n";
    const std::string text = table + "\n";
    const size_t at = text.find(suffix);
    if (at == std::string::npos)
        return std::string();
    const size_t begin = text.rfind('\n', at) + 1;
    return text.substr(begin, at + suffix.size() - 1 - begin);
}

} // namespace

TEST(KitModules, RecordsFromSeveralObjectFilesFormOneArrayRegisteredAtSetUp)
{
    SProfilerContext* context = GetProfiler();
    CKitModule moduleA(PC_KIT_MODULE_A);
    ASSERT_TRUE(moduleA.Loaded());
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 2); // this executable, then A
    const SProfilerModule a = context->m_ProfilerLoadedProfilerModules[1];
    ASSERT_EQ(a.m_End - a.m_Begin, 24); // no gap and no foreign data between the records
    std::set<std::string> names;
    for (const SProfilerStaticScope* record = a.m_Begin; record < a.m_End; ++record)
    {
        ASSERT_NE(record->m_Name, nullptr);
        EXPECT_EQ(record->m_Index, -1); // recorded only, before the set-up
        names.insert(record->m_Name);
    }
    EXPECT_EQ(names.size(), 24u);
    EXPECT_EQ(names.count("A1.0") + names.count("A2.7") + names.count("A3.4"), 3u);

    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams()));
    std::set<int32_t> indices;
    for (const SProfilerStaticScope* record = a.m_Begin; record < a.m_End; ++record)
        indices.insert(record->m_Index);
    EXPECT_EQ(indices.size(), 24u);
    EXPECT_GE(*indices.begin(), 0);
    moduleA.Unload();
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

    CKitModule moduleA(PC_KIT_MODULE_A), moduleB(PC_KIT_MODULE_B);
    ASSERT_TRUE(moduleA.Loaded() && moduleB.Loaded());
    const RunFunc runA = moduleA.Entry<RunFunc>("KitModuleARun");
    const RunFunc workB = moduleB.Entry<RunFunc>("KitModuleBWork");
    const auto startB = moduleB.Entry<StartThreadFunc>("KitModuleBStartThread");
    const auto joinB = moduleB.Entry<JoinThreadFunc>("KitModuleBJoinThread");
    ASSERT_TRUE(runA && workB && startB && joinB);

    // The first timed scope picks the name: this executable's thread layer through slot 10,
    // module B's own thread layer, and the OS's name of a thread that B created and named.
    const SWork ownerWork = {runA, &OwnerStep}, bWork = {workB, runA}, osWork = {runA, workB};
    std::atomic<bool> done{false};
    std::atomic<int> reports{0};
    FILE* scratch = std::tmpfile();
    ASSERT_NE(scratch, nullptr);
    std::thread reporter([&] {
        while (!done.load())
        {
            std::rewind(scratch);
            reports += ProfilerKitReport(scratch) ? 1 : 0;
        }
    });
    ThreadImpl* threads[] = {
        ThreadCreate("Owner thread with a long name", &RunWork, const_cast<SWork*>(&ownerWork), 0),
        startB("Bworker", &RunWork, const_cast<SWork*>(&bWork)),
        startB("OSnamed", &RunWork, const_cast<SWork*>(&osWork)),
    };
    ThreadDestroy(threads[0]);
    joinB(threads[1]);
    joinB(threads[2]);
    done = true;
    reporter.join();
    std::fclose(scratch);
    EXPECT_GT(reports.load(), 0);

    moduleB.Entry<LogFunc>("KitModuleBLog")("a line from module B");
    FILE* stream = std::tmpfile();
    ASSERT_TRUE(ProfilerKitReport(stream));
    moduleA.Unload();
    ASSERT_TRUE(ProfilerKitReport(stream));
    const std::string report = KitReadStream(stream);
    std::fclose(stream);

    for (const char* name : {"Owner thread with a long name", "Bworker", "OSnamed"})
        EXPECT_NE(TableLine(Table(report, "Threads:"), name), "") << name << "\n" << report;
    EXPECT_NE(Table(report, "Modules:").find("     24  "), std::string::npos) << report;
    // Totals over all threads: three threads ran module A, two module B, one the owner step.
    unsigned long long calls = 0, over = 0;
    double total, mean, longest;
    const struct
    {
        const char* m_Name;
        unsigned long long m_Calls;
    } expected[] = {
        {"A3.7", 3 * ITERATIONS}, {"B::Work", 2 * ITERATIONS}, {"Owner::Step", ITERATIONS}};
    for (const auto& scope : expected)
    {
        const std::string line = TableLine(Table(report, "Timing"), scope.m_Name);
        ASSERT_EQ(std::sscanf(line.c_str(), "%llu %lf %lf %lf %llu", &calls, &total, &mean,
                              &longest, &over),
                  5)
            << scope.m_Name << "\n"
            << report;
        EXPECT_EQ(calls, scope.m_Calls) << scope.m_Name;
        EXPECT_EQ(over, scope.m_Calls) << scope.m_Name; // a threshold of 0 ms counts every call
        EXPECT_LE(longest, mean * static_cast<double>(calls) + 0.001) << scope.m_Name;
    }
    // After module A went, its names are released: the second report shows them unloaded.
    const size_t second = report.rfind("Threads:");
    EXPECT_EQ(TableLine(Table(report.substr(second), "Scopes:"), "A1.0"), "");
    EXPECT_NE(TableLine(Table(report.substr(second), "Scopes:"), "(unloaded)"), "");

    // One log: B's line reached this executable's log, until the kit's shutdown.
    ASSERT_EQ(s_Lines.size(), 1u);
    EXPECT_EQ(s_Lines[0], "PLUGIN: a line from module B");
    ProfilerKitShutdown();
    moduleB.Entry<LogFunc>("KitModuleBLog")("after the shutdown");
    EXPECT_EQ(s_Lines.size(), 1u);
    LogShutdown();
}
