// The client kit as an application uses it, over the real shared library: its state after
// load, kit-using modules loaded before the set-up, bad set-ups, the trace read back with a JSON
// parser, timing in threads of every module while the report and the trace export read, a module
// unloaded, one log for the application, and the shutdown.
#include <clocale>
#include <csignal>
#include <map>

#include "kit_support.h"
#include "module/kit_module.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

typedef void (*RunFunc)(int iterations);
static constexpr int kIterations = 1000, kOwners = 4;

static void OwnerStep(int iterations)
{
    for (int i = 0; i < iterations; ++i)
    {
        PROFILE_SCOPE("Owner::Step", 0);
        PROFILE_SCOPE("A2.0", 0);     // a name that module A has too
        for (int f = 0; f < 200; ++f) // frame marks from four threads at once
            PROFILE_FRAME();
        PROFILE_SCOPE("Beyond", 10000000);     // thresholds beyond the tick field: warned
        PROFILE_SCOPE("Beyond too", 20000000); // once, saturated
        KitSharedInline(); // a scope of header-only code that modules A and B have too
    }
}

// Loads module A, runs its scopes the given times on a thread of their own, and unloads it;
// whether A was mapped after the load and is after the unload.
static std::pair<bool, bool> CycleA(int iterations)
{
    void* module = OsModuleLoad(PC_KIT_MODULE_A);
    if (iterations > 0)
        std::thread([&] { KIT_ENTRY(RunFunc, module, "KitModuleARun")(iterations); }).join();
    const bool loaded = OsModuleMapped(PC_KIT_MODULE_A);
    OsModuleUnload(module);
    return {loaded, OsModuleMapped(PC_KIT_MODULE_A)};
}

static std::vector<std::string> s_Lines;

static bool KeepLine(ELogSeverity, const char* channel, const char*, const char* text, bool,
                     uint32_t, uint32_t, int64_t, void*)
{
    s_Lines.push_back(std::string(channel) + ": " + text);
    return true;
}

// What a GUI toolkit's setlocale(LC_ALL, "") does under a comma-decimal locale.
static bool SetCommaLocale()
{
#if !defined(_WIN32) // compiled into the build tree when the system has not compiled it
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        setenv("LOCPATH", PC_TEST_LOCALE_DIR, 1);
#endif
    return std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "German_Germany.1252");
}

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
    LogSetCallback(&KeepLine, nullptr);
    ASSERT_TRUE(ProfilerKitInit(params));
    ASSERT_TRUE(SetCommaLocale()); // the trace and the report are read back under it
    EXPECT_EQ(context->m_NumThreadEntries, 1u + 16u + 64u + 8u); // counts, depths, counters, ring

    // A timed call lasts at least its sleep, read back under the comma locale; what the
    // trace holds and in which order is the report test's.
    {
        PROFILE_SCOPE("Trace::Slept", 0);
        OsSleep(5);
    }
    const std::string path = TempPath("_trace.json");
    const nlohmann::json slept = Trace().at("traceEvents").back();
    EXPECT_TRUE(slept.at("name") == "Trace::Slept" && slept.at("dur").get<double>() >= 5000.0);

    // Threads of every module time while the report and the export read. The first timed
    // scope picks the name: this executable's thread layer through the name slot, module
    // B's own thread layer, and the OS's name of a thread that B named.
    const auto runA = KIT_ENTRY(RunFunc, moduleA, "KitModuleARun");
    const auto workB = KIT_ENTRY(RunFunc, moduleB, "KitModuleBWork");
    const auto runThreadsB =
        KIT_ENTRY(void (*)(ThreadEntryFunc, void*, void*), moduleB, "KitModuleBRunThreads");
    const auto logB = KIT_ENTRY(void (*)(const char*), moduleB, "KitModuleBLog");
    ASSERT_TRUE(runA && workB && runThreadsB && logB);
    // A thread's work: two steps, each from any module.
    const ThreadEntryFunc runWork = [](void* arg) {
        static_cast<RunFunc*>(arg)[0](kIterations);
        static_cast<RunFunc*>(arg)[1](kIterations);
    };
    RunFunc ownerWork[] = {runA, &OwnerStep}, bWork[] = {workB, runA}, osWork[] = {runA, workB};
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread reporter([&] {
        FILE* scratch = std::tmpfile();
        for (; !done.load(); std::rewind(scratch))
            reads += ProfilerKitReport(scratch) + ProfilerKitWriteTrace(path.c_str());
        std::fclose(scratch);
    });
    ThreadImpl* owners[kOwners];
    for (ThreadImpl*& owner : owners)
        owner = ThreadCreate("Owner thread with a long name", runWork, ownerWork, 0);
    runThreadsB(runWork, bWork, osWork);
    for (ThreadImpl* owner : owners)
        ThreadDestroy(owner);
    done = true;
    reporter.join();
    EXPECT_GT(reads.load(), 0);
    for (const char* name : {"Owner thread with a long name", "Bworker", "OSnamed"})
        EXPECT_NE(ReportLine("Threads:", name), "") << name;
    EXPECT_TRUE(ReportText().starts_with(std::string("Counter: ") + GetCounterName() + ", " +
                                         std::to_string(GetCounterFrequency()) +
                                         " Hz\n\nThreads:"));
    EXPECT_NE(ReportText().find("\nFrames: 800000 marked"), std::string::npos); // none lost
    // Totals over all threads, none lost: every thread ran module A, two module B, the
    // owners the owner step; a threshold of 0 ms counts every call.
    const std::pair<const char*, unsigned long long> expected[] = {
        {"A::FunctionTemplate", 2 * (kOwners + 2) * kIterations},
        {"B::Work", 2 * kIterations},
        {"Shared::Inline", (2 * kOwners + 4) * kIterations},
        {"Owner::Step", kOwners * kIterations}};
    for (const auto& [name, count] : expected)
    {
        const std::array<double, 5> row = Timing(name);
        EXPECT_TRUE(row[0] == double(count) && row[4] == double(count)) << name;
    }
    OsModuleUnload(moduleA);

    // Failed writes are reported; a failed trace leaves the previous one whole.
    std::fclose(std::fopen(path.c_str(), "wb"));
    for (FILE* stream : {std::fopen(path.c_str(), "rb"), std::fopen("/dev/full", "wb")})
        if (stream != nullptr) // no /dev/full on Windows
        {
            EXPECT_FALSE(ProfilerKitReport(stream));
            std::fclose(stream);
        }
    const std::string good = (Trace(), FileText(path));
#if !defined(_WIN32)
    rlimit limit, small; // a file that cannot grow past 256 bytes, as on a full disk
    getrlimit(RLIMIT_FSIZE, &limit);
    small = {256, limit.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_FALSE(ProfilerKitWriteTrace(path.c_str()));
    setrlimit(RLIMIT_FSIZE, &limit);
#endif
    EXPECT_EQ(FileText(path), good);

    // One log: B's line reaches this executable's log, until the kit's shutdown. The
    // shutdown, while 8 threads time calls, keeps the scope table and the lock that they
    // may still use; calls made after it record nothing. It is final.
    logB("a line from module B");
    int32_t step = -1;
    context->RegisterScope(&step, "Owner::Step", 0.0f);
    std::atomic<int> started{0}, timing{0};
    std::vector<std::thread> threads;
    done = false; // before they start: each times calls until the end
    // They wait asleep until all exist: busy threads would starve the one creating them under
    // valgrind, which runs one thread at a time.
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (started += 1; started.load() < 8;)
                OsSleep(1);
            for (OwnerStep(1), timing += 1; !done.load();)
                OwnerStep(1);
        });
    ASSERT_TRUE(WaitUntil([&] { return timing.load() == 8; }));
    ProfilerKitShutdown();
    const uint64_t& steps =
        static_cast<SProfilerKitScopeEntry*>(g_ProfilerKitThread->m_ScopeEntries)[step].m_Calls;
    const uint64_t stepsBefore = steps;
    OwnerStep(10);
    EXPECT_EQ(steps, stepsBefore); // calls after it record nothing
    done = true;
    for (std::thread& thread : threads)
        thread.join();
    logB("after the shutdown");
    ASSERT_EQ(s_Lines.size(), 2u); // after one warning about two thresholds, at their first run
    EXPECT_NE(s_Lines[0].find("PROFILE: The threshold of "), std::string::npos);
    EXPECT_EQ(s_Lines[1], "PLUGIN: a line from module B");
    EXPECT_EQ(allocator.Live(), 2 * context->m_NumThreads + 1);
    CAssertRecorder recorder;
    EXPECT_TRUE(!ProfilerKitInit(params) && recorder.Saw("set up already"));
    LogShutdown();
    OsModuleUnload(moduleB);
}

// Limits: a plug-in cycle takes no thread-local slot; counts seeded near 2^32; calls beyond
// the ring's duration field; recursion; thresholds beyond the tick field; threads past the
// 32 records and their calls.
TEST(KitLimits, CountsWhatItCannotRecordAndNeverWraps)
{
    SProfilerInitParams params;
    params.m_NumThreadEntries = 8;
    ASSERT_TRUE(ProfilerKitInit(params));
    SProfilerThread* self = ProfilerKitAttachThread(); // takes the library's slot first
    // The lowest free key first, after a load and an unload of module A, and after one
    // with a run on a new thread: the run takes none (MinGW's runtime in a DLL keeps one
    // of its own per load).
    uint32_t keys[3] = {OsTlsAlloc()};
    for (int i = 1; i < 3; ++i)
    {
        CycleA(i - 1);
        keys[i] = OsTlsAlloc();
    }
    EXPECT_EQ(keys[2] - keys[1], keys[1] - keys[0]);

    // Through the layout: the calls and the ring's count seeded so that ten calls pass
    // 2^32, then calls with ticks given: one of 2^45 (beyond the ring's field) enclosing a
    // child that is too, and a recursive call of 10^6 inside another of 10^7.
    int32_t index[4] = {-1, -1, -1, -1};
    const char* names[] = {"Limits::Seed", "Limits::Long", "Limits::Child", "Limits::Recurse"};
    for (int i = 0; i < 4; ++i)
        GetProfiler()->RegisterScope(&index[i], names[i], 0.0f);
    static_cast<SProfilerKitScopeEntry*>(self->m_ScopeEntries)[index[0]].m_Calls = (1ull << 32) - 5;
    ProfilerKitRingHeader(*self)->m_Written = ProfilerKitRingHeader(*self)->m_Begun =
        (1ull << 32) - 10;
    const int64_t beyond = int64_t(1) << 45;
    const std::tuple<int, int64_t, int64_t> fabricated[] = {
        {2, beyond / 32, beyond - 9}, {1, 0, beyond}, {3, 1000000, 2000000}, {3, 0, 10000000}};
    for (auto [i, start, end] : fabricated)
        ++ProfilerKitDepth(*self, index[i]);
    for (int i = 0; i < 10; ++i)
        ProfilerKitRecord(self, index[0], i, i + 1);
    for (auto [i, start, end] : fabricated)
        ProfilerKitRecord(self, index[i], start, end);
    const int32_t free = PROFILER_MAX_THREADS - GetProfiler()->m_NumThreads;
    for (int t = 0; t < free + 9; ++t)
        std::thread(OwnerStep, 3).join();
    EXPECT_NE(ReportLine("Scopes:", "Beyond too").find("+  "), std::string::npos);

    const double toUs = 1e6 / static_cast<double>(GetCounterFrequency());
    std::map<std::string, std::vector<double>> ends;
    const nlohmann::json trace = Trace();
    for (const nlohmann::json& event : trace.at("traceEvents"))
        if (event.at("ph") == "X")
            ends[event.at("name")].push_back(event.at("ts").get<double>() +
                                             event.at("dur").get<double>());
    EXPECT_EQ(ends["Limits::Seed"].size(), 4u); // the whole ring: four more of the others
    EXPECT_GT(ends["Limits::Long"].at(0), 4294967296.0 * toUs);
    // In the printed thousandths of a microsecond, as a viewer reads them.
    EXPECT_LE(std::llround(ends["Limits::Child"].at(0) * 1000),
              std::llround(ends["Limits::Long"].at(0) * 1000));
    EXPECT_EQ(trace.at("otherData"), // five scopes a step
              nlohmann::json::parse(R"({"unrecordedThreads":9,"unrecordedCalls":135})"));
    EXPECT_NE(ReportText().find("Not recorded: 9 threads without a thread record, 135 calls\n"),
              std::string::npos);
    const std::tuple<const char*, uint64_t, double, double> expected[] = {
        {"Limits::Seed", (1ull << 32) + 5, 0, 0},
        {"Limits::Long", 1, beyond * toUs / 1000, beyond * toUs},
        {"Limits::Recurse", 2, 1e7 * toUs / 1000, 1e7 * toUs},
        {"Owner::Step", 3 * free, 0, 0}};
    for (const auto& [name, count, totalMs, longestUs] : expected)
    {
        const auto [calls, total, mean, longest, over] = Timing(name);
        EXPECT_TRUE(calls == double(count) && longest >= mean) << name;
        EXPECT_TRUE(totalMs == 0 || (std::abs(total - totalMs) < 0.002 &&
                                     std::abs(longest - longestUs) < longestUs * 1e-9 + 0.001))
            << name;
    }
}

TEST(Kit, NamesEveryKindOfScopeAfterItsModuleLeavesAndLeavesOutWhatItCannotServe)
{
    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams())); // a ring of 1024 calls keeps them all
    void* moduleB = OsModuleLoad(PC_KIT_MODULE_B);
    KIT_ENTRY(RunFunc, moduleB, "KitModuleBWork")(1);
    std::atomic<bool> done{false};
    std::thread reporter([&done] { // reads the tables while modules come and go
        FILE* scratch = std::tmpfile();
        for (; !done.load(); std::rewind(scratch))
            ProfilerKitReport(scratch);
        std::fclose(scratch);
    });
    for (int round = 0; round < 2; ++round) // mapped after the load, not after the unload
        EXPECT_EQ(CycleA(1), std::pair(true, false)) << round;
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
    std::map<std::string, unsigned long long> traced;
    const nlohmann::json trace = Trace();
    for (const nlohmann::json& event : trace.at("traceEvents"))
        traced[event.at("name")] += event.at("ph") == "X";
    for (const auto& [count, names] : cases)
        for (const char* name : names)
            EXPECT_TRUE(Timing(name)[0] == double(count) && traced[name] == count) << name;
    EXPECT_EQ(traced.size(), 13u + 1); // and the thread's name
    // The first text's threshold, to the fraction: 0.25 ms, not truncated to 0.
    EXPECT_NE(ReportLine("Scopes:", "Physics::Step3207 | Physics::Step26213").find(" 0.250 "),
              std::string::npos);

    // A module built against another kit version stays idle: one warning in its own log.
    SProfilerKitHeader* header = ProfilerKitHeader(GetProfiler());
    header->m_Version = PROFILER_KIT_VERSION + 1;
    testing::internal::CaptureStderr();
    CycleA(3);
    const std::string warned = testing::internal::GetCapturedStderr();
    header->m_Version = PROFILER_KIT_VERSION;
    const auto once = [](const std::string& text, const char* what) {
        return text.find(what) != std::string::npos && text.find(what) == text.rfind(what);
    };
    EXPECT_TRUE(once(warned, "the module times nothing")) << warned;
    EXPECT_EQ(Timing("A::Plain (unloaded)")[0], 2.0);
    EXPECT_EQ(GetProfiler()->m_ProfilerNumLoadedModules, 2); // this executable and B

    // Loaded twice as the 33rd module, A stays out of the table with one warning; timed.
    static SProfilerStaticScope s_Others[PROFILER_MAX_MODULES] = {}; // empty arrays, unnamed
    for (int m = 2; m < PROFILER_MAX_MODULES; ++m)
        GetProfiler()->RegisterModule(&s_Others[m], &s_Others[m]);
    testing::internal::CaptureStderr(); // the owner's log, uninitialised here
    for (int load = 0; load < 2; ++load)
        CycleA(1);
    const std::string full = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(once(full, "The profiler's module table is full (32 modules)")) << full;
    EXPECT_EQ(Timing("A::Plain (unloaded)")[0], 4.0);
    EXPECT_NE(ReportLine("Modules: 32, 2 more left out (the table holds 32)\n", "file"), "");
}
