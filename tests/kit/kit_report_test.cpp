// What the report and the trace print for calls of known ticks on two threads: the tables'
// columns and order, another client's module of one record, one frame, calls that start on the same
// tick or as another ends, recursion and a threshold met exactly. Portable.
#include "kit_support.h"

TEST(KitReport, TablesAndTraceOfKnownCalls)
{
    SProfilerContext* context = GetProfiler();
    SProfilerInitParams params;
    std::tie(params.m_NumThreadEntries, params.m_FirstThreadID) = std::pair(16, 7);
    ASSERT_TRUE(ProfilerKitInit(params));
    static SProfilerStaticScope s_Client = {-1, 0.0f, "Report::Client"}; // another client's
    context->RegisterModule(&s_Client, &s_Client + 1);
    const char* const names[] = {"Report::Big\x1f\"\\", "Report::Small", "Report::Recurse",
                                 "Report::Never"};
    int32_t scopes[4] = {-1, -1, -1, -1};
    for (int i = 0; i < 4; ++i)
        context->RegisterScope(&scopes[i], names[i], 0.0f);
    const auto [big, small, recurse, never] = scopes;
    const int64_t f = static_cast<int64_t>(GetCounterFrequency());        // one second
    context->m_Scopes[small].m_ThresholdTicks = static_cast<uint32_t>(f); // met exactly
    context->m_Scopes[never].m_ThresholdTicks = 0x80000000u;              // not saturated
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
