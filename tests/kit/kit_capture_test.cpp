// The continuous capture read back whole with a strict JSON parser: every call of a
// multi-threaded run (or its drop) on its thread, nesting, log lines, counters, frames and
// module events; its limits and files it cannot write; the file of a process killed
// mid-capture; the start by PROFILER_CAPTURE.
#include <map>
#include <set>

#include "kit_support.h"

#if !defined(_WIN32)
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace
{

int64_t Ns(const nlohmann::json& value) // "ts" and "dur" carry whole nanoseconds
{
    return std::llround(value.get<double>() * 1000);
}

} // namespace

TEST(KitCapture, HoldsEveryCallAndEventOfAMultiThreadedRunOnItsThread)
{
    SProfilerInitParams params;
    params.m_NumCaptureEntries = 4096; // small: calls may be dropped, but each is accounted
    ASSERT_TRUE(ProfilerKitInit(params));
    const std::string path = TempPath(".json");
    ASSERT_TRUE(ProfilerKitCaptureStart(path.c_str(), nullptr));
    EXPECT_FALSE(ProfilerKitCaptureStart(path.c_str(), nullptr)); // one at a time
    void* moduleA = OsModuleLoad(PC_KIT_MODULE_A);
    void* moduleB = OsModuleLoad(PC_KIT_MODULE_B);
    const auto runA = KIT_ENTRY(void (*)(int), moduleA, "KitModuleARun");
    const auto logB = KIT_ENTRY(void (*)(const char*), moduleB, "KitModuleBLog");
    ASSERT_TRUE(runA && logB);
    constexpr int kThreads = 4, kIterations = 2000, kCallsPerIteration = 2 + 11; // 11 in A
    uint32_t ids[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kIterations; ++i)
            {
                PROFILE_SCOPE("Capture::Outer", 0);
                PROFILE_SCOPE("Capture::Inner", 1000); // below its threshold
                runA(1);
                if (i % 100 == 0)
                    PROFILE_COUNTER("Capture::Counter", i + t);
            }
            {
                PROFILE_SCOPE("Capture::Slow", 1); // over its threshold
                OsSleep(2);
            }
            PROFILE_FRAME();
            logB(std::to_string(t).c_str());
            ids[t] = GetProfiler()->PeekThreadID();
        });
    for (std::thread& thread : threads)
        thread.join();
    OsModuleUnload(moduleA);
    ASSERT_TRUE(ProfilerKitCaptureStop());
    SProfilerKitCaptureResult result;
    ASSERT_TRUE(ProfilerKitCaptureResult(&result));

    const nlohmann::json events = nlohmann::json::parse(FileText(path));
    EXPECT_EQ(result.m_Events, events.size());
    std::map<uint32_t, std::vector<nlohmann::json>> calls;    // per thread id
    std::map<std::string, std::map<uint32_t, uint64_t>> seen; // kind: count per thread id
    std::map<uint32_t, std::string> names, lines;
    uint64_t dropped = 0;
    for (const nlohmann::json& event : events)
    {
        const uint32_t tid = event.at("tid");
        const std::string ph = event.at("ph"), name = event.at("name");
        if (ph == "X")
        {
            calls[tid].push_back(event);
            EXPECT_EQ(event.contains("args"), name == "Capture::Slow") << name;
        }
        else if (ph == "M")
            names[tid] = event.at("args").at("name");
        else if (name == "Dropped calls")
            seen[name][tid] += event.at("args").at("count").get<uint64_t>();
        else if (ph == "i" && event.at("s") == "t")
        {
            lines[tid] = name;
            EXPECT_EQ(event.at("args"),
                      nlohmann::json::parse(R"({"severity":"warning","channel":"PLUGIN"})"));
        }
        else if (ph == "C")
            seen["C" + event.at("args").at("value").dump()][tid] += 1;
        else if (ph == "i" && event.at("s") == "p") // a module event, keyed by its module
            seen[name + (event.at("args").at("file").get<std::string>().find("kit_module_a") !=
                                 std::string::npos
                             ? " A"
                             : " B")][tid] += 1;
        else
            seen[name][tid] += 1;
    }
    for (int t = 0; t < kThreads; ++t)
    {
        const uint32_t tid = ids[t];
        dropped += seen["Dropped calls"][tid];
        EXPECT_EQ(calls[tid].size() + seen["Dropped calls"][tid],
                  uint64_t(kIterations) * kCallsPerIteration + 1);
        EXPECT_EQ(lines[tid], std::to_string(t));
        EXPECT_EQ(seen["Frame"][tid], 1u);
        EXPECT_EQ(seen["C" + std::to_string(kIterations - 100 + t)][tid], 1u);
        EXPECT_FALSE(names[tid].empty());
        // Calls nest: sorted by start, longest first, each ends within the one enclosing it.
        auto& list = calls[tid];
        std::sort(list.begin(), list.end(), [](const nlohmann::json& a, const nlohmann::json& b) {
            return std::make_pair(Ns(a["ts"]), -Ns(a["dur"])) <
                   std::make_pair(Ns(b["ts"]), -Ns(b["dur"]));
        });
        std::vector<int64_t> open;
        for (const nlohmann::json& call : list)
        {
            const int64_t start = Ns(call["ts"]), end = start + Ns(call["dur"]);
            while (!open.empty() && open.back() <= start)
                open.pop_back();
            ASSERT_TRUE(open.empty() || end <= open.back()) << call.dump();
            open.push_back(end);
        }
    }
    EXPECT_EQ(result.m_DroppedCalls, dropped);
    EXPECT_NE(ReportText().find(" " + std::to_string(dropped) + " calls, 0 other events in all\n"),
              std::string::npos);
    const uint32_t main = GetProfiler()->PeekThreadID();
    EXPECT_TRUE(seen["Module loaded A"][main] == 1 && seen["Module loaded B"][main] == 1 &&
                seen["Module unloaded A"][main] == 1 && seen["Module unloaded B"].empty());
    ProfilerKitShutdown();
    OsModuleUnload(moduleB);
}

TEST(KitCapture, RefusesAFileItCannotWriteAndEndsByItselfAtItsLimits)
{
    EXPECT_FALSE(ProfilerKitCaptureStart(TempPath(".json").c_str(), nullptr)); // no set-up yet
    SProfilerInitParams init;
    init.m_NumCaptureEntries = 2; // most calls are dropped: marks all along
    ASSERT_TRUE(ProfilerKitInit(init));
    EXPECT_FALSE(ProfilerKitCaptureStart((TempPath("") + "/missing/x.json").c_str(), nullptr));
#if !defined(_WIN32)
    EXPECT_FALSE(ProfilerKitCaptureStart("/dev/full", nullptr)); // takes no byte
#endif
    const std::pair<double, uint64_t> limits[] = {{0.02, 0}, {0, 20000}}; // seconds, bytes
    for (const auto& [seconds, bytes] : limits)
    {
        const std::string path = TempPath(".json");
        SProfilerKitCaptureParams params;
        params.m_MaxSeconds = seconds;
        params.m_MaxBytes = bytes;
        ASSERT_TRUE(ProfilerKitCaptureStart(path.c_str(), &params));
        // The writer completes the file by itself while the calls go on; later ones stay out.
        ASSERT_TRUE(WaitUntil([&] {
            for (int i = 0; i < 50; ++i)
            {
                PROFILE_SCOPE("Limit::Work", 0);
            }
            const std::string text = FileText(path);
            return text.size() > 3 && text.compare(text.size() - 3, 3, "\n]\n") == 0;
        }));
        const std::string text = FileText(path);
        EXPECT_FALSE(ProfilerKitCaptureStart(path.c_str(), nullptr)); // open until stopped
        EXPECT_TRUE(ProfilerKitCaptureStop());
        SProfilerKitCaptureResult result;
        ASSERT_TRUE(ProfilerKitCaptureResult(&result));
        EXPECT_EQ(FileText(path), text);
        EXPECT_EQ(result.m_Bytes, text.size());
        EXPECT_GE(result.m_Bytes, bytes);
        EXPECT_EQ(result.m_Events, nlohmann::json::parse(text).size());
    }
    // Every call is in the file or in a drop mark, and the marks stand where calls were lost.
    const std::string path = TempPath(".json");
    ASSERT_TRUE(ProfilerKitCaptureStart(path.c_str(), nullptr));
    for (int burst = 0; burst < 20; ++burst, OsSleep(2))
        for (int i = 0; i < 50; ++i)
        {
            PROFILE_SCOPE("Limit::Burst", 0); // 10 us each, so that no two start alike
            for (const int64_t end = GetCounterTicks() + int64_t(GetCounterFrequency() / 100000);
                 GetCounterTicks() < end;)
                continue;
        }
    ASSERT_TRUE(ProfilerKitCaptureStop());
    uint64_t calls = 0, dropped = 0, marks = 0;
    std::set<int64_t> starts; // a call written over an unread entry shows twice
    for (const nlohmann::json& event : nlohmann::json::parse(FileText(path)))
        if (event.at("name") == "Limit::Burst" && starts.insert(Ns(event.at("ts"))).second)
            ++calls;
        else if (event.at("name") == "Dropped calls")
        {
            ++marks;
            dropped += event.at("args").at("count").get<uint64_t>();
        }
    EXPECT_EQ(calls + dropped, 1000u);
    EXPECT_GT(marks, 1u) << dropped;
#if !defined(_WIN32)
    // A file that fails mid-capture: a pipe whose reader has gone.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::signal(SIGPIPE, SIG_IGN);
    ASSERT_TRUE(ProfilerKitCaptureStart(("/dev/fd/" + std::to_string(ends[1])).c_str(), nullptr));
    close(ends[0]);
    EXPECT_FALSE(ProfilerKitCaptureStop());
    close(ends[1]);
#endif
    ProfilerKitShutdown();
}

TEST(KitCapture, StartsFromTheEnvironmentAndLeavesAReadableFileWhenKilled)
{
    const std::string path = TempPath(".json"), killed = TempPath("_killed.json");
#if !defined(_WIN32)
    // A child killed mid-capture. Windows has no fork; its file is written by the same
    // portable writer through the same unbuffered writes.
    const pid_t child = fork();
    if (child == 0)
    {
        setenv("PROFILER_CAPTURE", killed.c_str(), 1);
        ProfilerKitInit(SProfilerInitParams());
        for (int i = 0;; ++i)
        {
            PROFILE_SCOPE("Killed::Work", 0);
            if (i % 100 == 0)
                OsSleep(1);
        }
    }
    const bool grew = WaitUntil([&] { return FileText(killed).size() > 300000; });
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(grew) << FileText(killed).size();
    std::string text = FileText(killed);
    // A kill inside a write may cut the last event: viewers skip it, as this does.
    if (text.back() != '}')
        text.resize(text.rfind(",\n"));
    const nlohmann::json partial = nlohmann::json::parse(text + "]");
    EXPECT_GT(partial.size(), 1000u);
    EXPECT_EQ(partial.back().at("name"), "Killed::Work");
    setenv("PROFILER_CAPTURE", path.c_str(), 1);
#else
    _putenv(("PROFILER_CAPTURE=" + path).c_str());
#endif
    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams()));
    EXPECT_FALSE(ProfilerKitCaptureStart(path.c_str(), nullptr)); // PROFILER_CAPTURE's is open
    for (int i = 0; i < 100; ++i)
    {
        PROFILE_SCOPE("Env::Work", 0);
    }
    ProfilerKitShutdown(); // finishes the file
    const nlohmann::json events = nlohmann::json::parse(FileText(path));
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const nlohmann::json& e) { return e.at("name") == "Env::Work"; }),
              100);
}
