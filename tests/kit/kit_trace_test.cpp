// The trace export read back with a real JSON parser: nesting, durations at least what the
// sleeps guarantee, frame marks around the work, escaped names, the threshold, and a ring
// that keeps the most recent calls.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "kit/profilerkit.h"
#include "kit_test_support.h"

namespace
{

void Sleep(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void Tick()
{
    PROFILE_SCOPE("Trace::Tick", 0);
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

} // namespace

TEST(KitTrace, ParsedBackItShowsNestedCallsFramesAndTheLatestCalls)
{
    SProfilerInitParams params;
    params.m_NumThreadEntries = 5; // a ring of 8
    ASSERT_TRUE(ProfilerKitInit(params));
    for (int i = 0; i < 10; ++i)
        Tick();
    PROFILE_FRAME();
    Work();
    PROFILE_FRAME();

    const char* path = "kit_trace_test.json";
    ASSERT_TRUE(ProfilerKitWriteTrace(path));
    const nlohmann::json trace = nlohmann::json::parse(KitReadFile(path));
    std::remove(path);

    std::vector<nlohmann::json> outer, inner, frames;
    int ticks = 0, names = 0;
    for (const nlohmann::json& event : trace.at("traceEvents"))
    {
        const std::string name = event.at("name");
        const std::string phase = event.at("ph");
        if (phase == "M")
            names += event.at("args").at("name").get<std::string>().empty() ? 0 : 1;
        else if (phase == "i")
            frames.push_back(event);
        else if (name == "Trace::Outer")
            outer.push_back(event);
        else if (name == "Trace::Inner \"quoted\" \\ \t")
            inner.push_back(event);
        else if (name == "Trace::Tick")
            ticks++;
        else
            ADD_FAILURE() << name << " " << phase;
    }
    // Eight kept: the last five ticks, two inner calls, the outer call.
    EXPECT_EQ(ticks, 5);
    EXPECT_EQ(names, 1);
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
