// What the report and the trace print for calls of known ticks on two threads: the tables'
// columns and order, another client's module of one record, one frame, calls that start on the same
// tick or as another ends, recursion and a threshold met exactly. And names in any bytes reach
// the trace as valid UTF-8. Portable.
#include "kit_support.h"

TEST(KitReport, TablesAndTraceOfKnownCalls)
{
    SProfilerInitParams params;
    std::tie(params.m_NumThreadEntries, params.m_FirstThreadID) = std::pair(16, 7);
    ASSERT_TRUE(ProfilerKitInit(params));
    static SProfilerStaticScope s_Client = {-1, 0.0f, "Report::Client"}; // another client's
    GetProfiler()->RegisterModule(&s_Client, &s_Client + 1);
    const char* const names[] = {"Report::Big\x1f\"\\", "Report::Small", "Report::Recurse",
                                 "Report::Never"};
    int32_t scopes[4] = {-1, -1, -1, -1};
    for (int i = 0; i < 4; ++i)
        GetProfiler()->RegisterScope(&scopes[i], names[i], 0.0f);
    const auto [big, small, recurse, never] = scopes;
    const int64_t f = static_cast<int64_t>(GetCounterFrequency());              // one second
    GetProfiler()->m_Scopes[small].m_ThresholdTicks = static_cast<uint32_t>(f); // met exactly
    GetProfiler()->m_Scopes[never].m_ThresholdTicks = 0x80000000u;              // not saturated
    PROFILE_FRAME();
    PROFILE_FRAME();
    SProfilerThread* threads[2] = {ProfilerKitAttachThread()};
    std::thread([&] { threads[1] = ProfilerKitAttachThread(); }).join();
    // Thread, scope, start and end in seconds after s; the outer recursive call ends last.
    const int64_t s = GetCounterTicks() + f;
    const int calls[][4] = {{0, big, 0, 3},     {0, small, 0, 1},   {0, big, 3, 4},
                            {0, recurse, 6, 7}, {0, recurse, 5, 8}, {1, big, 6, 9},
                            {0, small, 8, 8}};
    ++ProfilerKitDepth(*threads[0], recurse); // the outer call begins before the inner
    for (const auto& [thread, scope, start, end] : calls)
    {
        if (scope != recurse || start != 5)
            ++ProfilerKitDepth(*threads[thread], scope);
        ProfilerKitRecord(threads[thread], scope, s + start * f, s + end * f);
    }

    const std::string report = ReportText();
    char row[160];
    std::snprintf(row, sizeof row, "%5d  0x%08x     1000.000   %15lld  Report::Small\n", small,
                  static_cast<unsigned>(HashString(names[1])), static_cast<long long>(f));
    for (const std::string& part :
         {std::string("Threads: 2\n   id  name\n    7  "), std::string("\n    8  "),
          std::string(row), std::string("\n    1  1 records registered by another client\n"),
          std::string("\nFrames: 2 marked, last 1 frames"),
          std::string(
              "name\n         3      7000.000   2333333.333   3000000.000               3  "
              "Report::Big\x1f\"\\\n         2      3000.000   1500000.000   3000000.000         "
              "      2  Report::Recurse\n         2      1000.000    500000.000   "
              "1000000.000               1  Report::Small\n\nFrames")})
        EXPECT_NE(report.find(part), std::string::npos) << part << "\nnot in\n" << report;
    const std::string upToNever = report.substr(0, report.find("Report::Never\n"));
    EXPECT_EQ(upToNever.substr(upToNever.rfind('\n')).find('+'), std::string::npos);

    // Events in seconds after the first; the first frame mark is the earliest time.
    const nlohmann::json trace = Trace();
    std::string events;
    std::vector<double> frames;
    double first = -1;
    for (const nlohmann::json& event : trace.at("traceEvents"))
    {
        const double ts = event.value("ts", 0.0);
        if (event.at("ph") == "i")
            frames.push_back(ts);
        if (event.at("ph") != "X")
            continue;
        first = first < 0 ? ts : first;
        events += event.at("name").get<std::string>().substr(8, 3) +
                  std::to_string(event.at("tid").get<int>()) + ' ' +
                  std::to_string(std::lround((ts - first) / 1e6)) + ',' +
                  std::to_string(std::lround(event.at("dur").get<double>() / 1e6)) + ' ';
    }
    EXPECT_EQ(events, "Big7 0,3 Sma7 0,1 Big7 3,1 Rec7 5,3 Rec7 6,1 Big8 6,3 ");
    EXPECT_TRUE(frames.size() == 2 && frames[0] == 0.0);
}

// Names in any bytes reach the trace as valid UTF-8: the OS's thread names (ill-formed,
// cut by the kernel in a character, or longer than the OS or the kit keeps) and a scope
// literal with raw bytes. The thread layer's own cut is the thread tests'.
TEST(KitNames, EveryNameReachesTheTraceAsValidUtf8)
{
    ASSERT_TRUE(ProfilerKitInit(SProfilerInitParams()));
    const std::string e = "\xC3\xA9", bad = "\xEF\xBF\xBD", raw = "Raw " + bad + e + bad;
    std::string es; // 130 of "é"
    while (es.size() < 260)
        es += e;
    // The name of a thread that only the OS names, and the name that the trace shows.
    const std::pair<std::string, std::string> rows[] = {
        {"\xFF\xFE\x80", bad + bad + bad},
        {"abcdefghijklmn\xC3", "abcdefghijklmn" + bad}, // as the kernel cuts "é"
#if defined(_WIN32) // the kit's buffer of 255 bytes: descriptions may be longer
        {es, es.substr(0, 254)},
#else // the kernel keeps 15 bytes, the last one half an "é". Windows turns the description
      // into UTF-16 first, by rules of its own, so the next two are the kernel's only.
        {es, es.substr(0, 14)},
        {"\xED\xA0\x80", bad + bad + bad},           // an encoded surrogate
        {"\xF4\x90\x80\x80", bad + bad + bad + bad}, // past U+10FFFF
#endif
    };
    for (const auto& row : rows)
        std::thread([&] {
            ThreadAnnounceName(ThreadGetCurrentId(), row.first.c_str());
            PROFILE_SCOPE("Raw \xFF\xC3\xA9\xC3", 0);
        }).join();
    const nlohmann::json trace = Trace(); // parsed as strict UTF-8
    std::vector<std::string> names;
    for (const auto& event : trace.at("traceEvents"))
        names.push_back((event.at("ph") == "M" ? event.at("args") : event).at("name"));
    std::vector<std::string> expected(2 * std::size(rows), raw);
    for (size_t i = 0; i < std::size(rows); ++i)
        expected[i] = rows[i].second;
    EXPECT_EQ(names, expected);
}
