// The scope registry: the index-slot protocol, hash identity, the threshold conversion and
// the once-per-process warning when the table is full.
#include <cmath>
#include <limits>
#include <string>

#include "common/hash/hash.h"
#include "common/time/counter.h"
#include "profile/profilercontext_internal.h"
#include "profiler_fixture.h"

// Expected values computed apart from the code, in IEEE double arithmetic: optimised 32-bit
// builds must give the same ticks (x87 excess precision is one tick off on about half).
TEST(ScopeThreshold, MillisecondsBecomeCounterTicks)
{
    const float inf = std::numeric_limits<float>::infinity();
    const struct
    {
        float m_Ms;
        uint64_t m_Frequency;
        uint32_t m_Ticks;
    } cases[] = {
        {2.9f, 10000000, 20000},            // the fraction is dropped first
        {1.0f, 3579545, 3579},              // the remainder is dropped
        {0.999f, 3579545, 0},               // below 1 ms: every call reaches it
        {10000.0f, 1000000000, 1410065408}, // 10^10 ticks: the low 32 bits
        {-1.0f, 1000, 1271310320},          // wraps in the 64-bit product, read unsigned
        {-2.0f, 1000, 1271310316},          // ... then rounded to a double
        {-7.0f, 1000, 1271310312},
        {-5.0f, 3579545, 1271292424},
        {std::numeric_limits<float>::quiet_NaN(), 1000, 0}, // NaN counts as 0 ms
        {1e30f, 1000, 1271310320},                          // saturates at the largest 64-bit value
        {inf, 7, 2783138808},
        {-1e30f, 1000, 0}, // ... and the smallest
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProfilerThresholdToTicks(c.m_Ms, c.m_Frequency), c.m_Ticks) << c.m_Ms;
}

TEST_F(ProfilerTest, SlotProtocolAndHashIdentity)
{
    SetUpReady();
    SProfilerContext* context = Context();
    const char nameA[] = "Render";
    const std::string copyOfA = nameA; // same text, another pointer

    int32_t slot = -1;
    EXPECT_EQ(context->RegisterScope(&slot, nameA, 2.9f), 0);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(context->m_NumScopes, 1);
    EXPECT_EQ(m_Scopes[0].m_Name, nameA);
    EXPECT_EQ(m_Scopes[0].m_NameHash, HashString("Render"));
    const uint32_t ticks = uint32_t(GetCounterFrequency() * 2 / 1000); // 2.9 ms counts as 2
    EXPECT_EQ(m_Scopes[0].m_ThresholdTicks, ticks);

    int32_t secondSlot = -1;
    EXPECT_EQ(context->RegisterScope(&secondSlot, copyOfA.c_str(), 5.0f), 0);
    EXPECT_EQ(secondSlot, 0);
    EXPECT_EQ(m_Scopes[0].m_Name, copyOfA.c_str()); // the newest text wins
    EXPECT_EQ(m_Scopes[0].m_ThresholdTicks, ticks); // the threshold stays
    EXPECT_EQ(context->m_NumScopes, 1);

    int32_t otherSlot = -7;
    EXPECT_EQ(context->RegisterScope(&otherSlot, "Physics", 1.0f), 1);
    EXPECT_EQ(otherSlot, 1);

    // A slot that holds an index answers at once, whatever the name and the table.
    int32_t cached = 7;
    EXPECT_EQ(context->RegisterScope(&cached, "Anything", 1.0f), 7);
    EXPECT_EQ(context->m_NumScopes, 2);
    EXPECT_EQ(m_Scopes[0].m_Name, copyOfA.c_str());
}

TEST_F(ProfilerTest, FullTableWarnsOnceAndStillFindsKnownNames)
{
    SetUpReady(2);
    SProfilerContext* context = Context();
    int32_t a = -1, b = -1, c = -1, d = -1, again = -1;
    EXPECT_EQ(context->RegisterScope(&a, "A", 1.0f), 0);
    EXPECT_EQ(context->RegisterScope(&b, "B", 1.0f), 1);

    testing::internal::CaptureStderr();
    EXPECT_EQ(context->RegisterScope(&c, "C", 1.0f), PROFILER_SCOPE_TABLE_FULL);
    EXPECT_EQ(context->RegisterScope(&d, "D", 1.0f), PROFILER_SCOPE_TABLE_FULL);
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, "Trying to write to an uninitialized log. Use LogInit() to get rid of "
                       "this message.\n"
                       "The profiler is out of scope entries. 2 entries are allocated, given "
                       "by SProfilerInitParams()\n");
    EXPECT_EQ(c, -1);
    EXPECT_EQ(d, -1);
    EXPECT_EQ(context->m_Flags, PROFILER_FLAG_OUT_OF_SCOPES_WARNED);
    EXPECT_EQ(context->m_NumScopes, 2);

    // The search comes before the capacity test.
    EXPECT_EQ(context->RegisterScope(&again, "B", 1.0f), 1);
    EXPECT_EQ(again, 1);
}

TEST_F(ProfilerTest, BeforeTheLockRegistrationIsNotReady)
{
    Configure();
    int32_t unregistered = -1, registered = 3;
    EXPECT_EQ(Context()->RegisterScope(&unregistered, "Early", 1.0f), PROFILER_SCOPE_NOT_READY);
    EXPECT_EQ(Context()->RegisterScope(&registered, "Early", 1.0f), PROFILER_SCOPE_NOT_READY);
    EXPECT_EQ(unregistered, -1);
    EXPECT_EQ(registered, 3);
    EXPECT_EQ(Context()->m_NumScopes, 0);
}
