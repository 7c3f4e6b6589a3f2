// The owner's set-up and tear-down: bad parameters change nothing, a good set-up fills the
// record and registers the modules recorded before it, the shutdown gives back what the
// set-up took, and a module of another kit version refuses to time.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "kit/profilerkit.h"
#include "kit/profilerkit_layout.h"
#include "test_support.h"

namespace
{

void TimedOnce()
{
    PROFILE_SCOPE("Init::Timed", 3);
}

std::vector<unsigned char> RecordBytes()
{
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(GetProfiler());
    return std::vector<unsigned char>(raw, raw + sizeof(SProfilerContext));
}

} // namespace

TEST(KitInit, BadParametersAssertAndChangeNothingThenASetUpServesUntilShutdown)
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
        {allocator.Get(), -4, 8, 1, "m_NumScopeEntries > 0"},
        {allocator.Get(), PROFILER_KIT_MAX_SCOPES + 1, 8, 1, "PROFILER_KIT_MAX_SCOPES"},
        {allocator.Get(), 8, 0, 1, "m_NumThreadEntries > 0"},
        {allocator.Get(), 8, 8, 0, "m_FirstThreadID >= 1"},
        {allocator.Get(), 8, 8, -3, "m_FirstThreadID >= 1"},
    };
    const std::vector<unsigned char> before = RecordBytes();
    for (const auto& c : cases)
    {
        SProfilerInitParams params;
        params.m_Allocator = c.m_Allocator;
        params.m_NumScopeEntries = c.m_Scopes;
        params.m_NumThreadEntries = c.m_Ring;
        params.m_FirstThreadID = c.m_First;
        CAssertRecorder recorder;
        EXPECT_FALSE(ProfilerKitInit(params)) << c.m_Expression;
        EXPECT_EQ(recorder.Count(), 1u) << c.m_Expression;
        EXPECT_TRUE(recorder.Saw(c.m_Expression)) << c.m_Expression;
        EXPECT_TRUE(RecordBytes() == before) << c.m_Expression;
    }
    EXPECT_EQ(allocator.m_Allocations.load(), 0);

    SProfilerContext* context = GetProfiler();
    const ProfilerGetThreadNameFunc libraryName = context->GetThreadName;
    SProfilerInitParams params;
    params.m_Allocator = allocator.Get();
    params.m_NumScopeEntries = 32;
    params.m_NumThreadEntries = 100;
    params.m_FirstThreadID = 7;
    ASSERT_TRUE(ProfilerKitInit(params));
    EXPECT_NE(context->m_BigLock, nullptr);
    EXPECT_EQ(context->m_NumThreadEntries, 128u + 8u); // ring of 128, then 32 counters
    EXPECT_NE(context->GetThreadName, libraryName);
    // This executable's records were recorded at load and are registered now.
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 1);
    const SProfilerModule self = context->m_ProfilerLoadedProfilerModules[0];
    int32_t timed = -1;
    for (const SProfilerStaticScope* record = self.m_Begin; record < self.m_End; ++record)
    {
        EXPECT_GE(record->m_Index, 0) << record->m_Name;
        if (std::strcmp(record->m_Name, "Init::Timed") == 0)
            timed = record->m_Index;
    }
    ASSERT_GE(timed, 0);
    EXPECT_EQ(context->m_Scopes[timed].m_ThresholdTicks,
              uint32_t(GetCounterFrequency() * 3 / 1000));

    TimedOnce();
    EXPECT_EQ(context->PeekThreadID(), 7u);
    const auto* entry = static_cast<SProfilerKitScopeEntry*>(context->m_Threads[0].m_ScopeEntries);
    EXPECT_EQ(entry[timed].m_Calls, 1u);
    {
        CAssertRecorder recorder;
        EXPECT_FALSE(ProfilerKitInit(params));
        EXPECT_TRUE(recorder.Saw("set up already"));
    }

    // An owner of another kit version: a new thread notices it and is not registered.
    SProfilerKitHeader* header = ProfilerKitHeader(context);
    header->m_Version = PROFILER_KIT_VERSION + 1;
    {
        CAssertRecorder recorder;
        std::thread([] { TimedOnce(); }).join();
        EXPECT_TRUE(recorder.Saw("another version"));
    }
    EXPECT_EQ(context->m_NumThreads, 1);
    header->m_Version = PROFILER_KIT_VERSION;

    const int live = allocator.Live(); // the scope table and one thread's two buffers
    ASSERT_EQ(live, 3);
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
