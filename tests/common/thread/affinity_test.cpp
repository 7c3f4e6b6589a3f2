// Thread and process affinity, ideal processors, processor and core counts, and the
// processor that a thread runs on.
#include <gtest/gtest.h>

#include <bit>
#include <thread>
#include <vector>

#include "common/thread/affinity.h"
#include "support/thread_os_support.h"
#include "thread_test_helpers.h"

static const char* const s_MaskCheck = "affinity_mask != 0";
static const char* const s_IdealCheck =
    "ideal_proc == THREAD_AFFINITY_IDEAL_PROCESSOR_ANY || (ideal_proc >= 0 && ideal_proc <= 63)";

static uint64_t LowestBit(uint64_t mask)
{
    return mask & (~mask + 1);
}

// A created thread that stays alive until the fixture ends.
class ThreadAffinity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Process = ThreadGetProcessAffinity();
        m_Thread = CreateThreadRunning("Affinity", &m_Body);
    }
    void TearDown() override
    {
        m_Gate.Open();
        ThreadDestroy(m_Thread);
    }
    uint64_t m_Process = 0;
    SGate m_Gate;
    SThreadBody m_Body{[this] { m_Gate.Wait(); }};
    ThreadImpl* m_Thread = nullptr;
};

TEST_F(ThreadAffinity, EachProcessorSetReadsBack)
{
    CAssertRecorder recorder;
    ASSERT_NE(m_Process, 0u);
    EXPECT_EQ(ThreadGetAffinity(m_Thread, nullptr), m_Process);
    for (uint64_t rest = m_Process; rest != 0; rest &= rest - 1)
    {
        ThreadSetAffinity(m_Thread, LowestBit(rest), THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
        EXPECT_EQ(ThreadGetAffinity(m_Thread, nullptr), LowestBit(rest));
    }
    ThreadSetAffinity(m_Thread, ~0ull, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY); // clipped
    EXPECT_EQ(ThreadGetAffinity(m_Thread, nullptr), m_Process);
    EXPECT_EQ(recorder.Count(), 0u);

    // A thread bound to one processor runs there.
    ThreadImpl* self = ThreadAttachCurrent("Main");
    const int last = 63 - std::countl_zero(m_Process);
    ThreadSetAffinity(self, 1ull << last, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
    EXPECT_EQ(ThreadGetCurrentProcessor(), static_cast<uint32_t>(last));
    ThreadSetAffinity(self, m_Process, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
    ThreadDetachCurrent();
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST_F(ThreadAffinity, EmptyMasksAssertAndLeaveTheThreadAlone)
{
    // Bits above 31 only, none of them the process's: empty once masked (in a 32-bit
    // process the OS masks have no such bits at all).
    const uint64_t high_only = 0xFFFFFFFF00000000ull & ~m_Process;
    // A processor below 32 that the process may not use, if there is one.
    const uint64_t foreign_low = LowestBit(~m_Process & 0xFFFFFFFFull);
    std::vector<uint64_t> masks = {0};
    if (high_only != 0)
        masks.push_back(high_only);
    if (foreign_low != 0)
        masks.push_back(foreign_low);
    for (uint64_t mask : masks)
    {
        CAssertRecorder recorder;
        ThreadSetAffinity(m_Thread, mask, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
        ASSERT_GE(recorder.Count(), 1u) << "mask " << std::hex << mask;
        EXPECT_EQ(recorder.Records()[0].m_Expression, s_MaskCheck);
        EXPECT_FALSE(recorder.Saw("ideal_proc"));
        EXPECT_EQ(ThreadGetAffinity(m_Thread, nullptr), m_Process);
    }
}

TEST_F(ThreadAffinity, IdealProcessorOutOfRangeAssertsAndAnyLeavesItAlone)
{
    int32_t ideal_before = -5;
    ThreadGetAffinity(m_Thread, &ideal_before);
    const uint64_t lowest = LowestBit(m_Process);
    {
        CAssertRecorder recorder;
        ThreadSetAffinity(m_Thread, lowest, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
        EXPECT_EQ(recorder.Count(), 0u);
        int32_t ideal_after = -5;
        EXPECT_EQ(ThreadGetAffinity(m_Thread, &ideal_after), lowest);
        EXPECT_EQ(ideal_after, ideal_before);
    }
    for (int32_t ideal : {64, -2})
    {
        CAssertRecorder recorder;
        ThreadSetAffinity(m_Thread, m_Process, ideal);
        ASSERT_GE(recorder.Count(), 1u) << ideal;
        EXPECT_EQ(recorder.Records()[0].m_Expression, s_IdealCheck);
        EXPECT_FALSE(recorder.Saw(s_MaskCheck));
        // The mask is applied all the same.
        EXPECT_EQ(ThreadGetAffinity(m_Thread, nullptr), m_Process);
    }
}

TEST_F(ThreadAffinity, IdealProcessorIsSetWhereTheOsHasOne)
{
    const int32_t wanted = std::countr_zero(m_Process);
    CAssertRecorder recorder;
    ThreadSetAffinity(m_Thread, m_Process, wanted);
    int32_t ideal = -5;
    ThreadGetAffinity(m_Thread, &ideal);
    if (OsThreadNameLimit() != static_cast<size_t>(-1))
    {
        // POSIX has no ideal processor: the request is refused and none reads back.
        EXPECT_TRUE(recorder.Saw("ret != -1"));
        EXPECT_EQ(ideal, -1);
    }
    else
    {
        EXPECT_EQ(recorder.Count(), 0u);
        if (OsIsWine())
        {
            EXPECT_TRUE(ideal >= 0 && ideal < 64) << ideal; // wine keeps no ideal processor
        }
        else
        {
            EXPECT_EQ(ideal, wanted);
        }
    }
}

TEST(ThreadProcessAffinity, SetReadsBackAndCoversNewThreads)
{
    CAssertRecorder recorder;
    const uint64_t original = ThreadGetProcessAffinity();
    ASSERT_NE(original, 0u);
    if (sizeof(void*) == 4)
    {
        EXPECT_EQ(original >> 32, 0u);
    }

    const uint64_t lowest = LowestBit(original);
    ThreadSetProcessAffinity(lowest);
    EXPECT_EQ(ThreadGetProcessAffinity(), lowest);
    std::atomic<uint64_t> seen{0};
    SThreadBody body{[&] { seen = ThreadGetAffinity(ThreadGetCurrent(), nullptr); }};
    ThreadDestroy(CreateThreadRunning("Narrow", &body));
    EXPECT_EQ(seen, lowest);

    ThreadSetProcessAffinity(original);
    EXPECT_EQ(ThreadGetProcessAffinity(), original);
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST(ThreadProcessAffinity, BindingTheCallingThreadDoesNotNarrowTheProcess)
{
    const uint64_t process = ThreadGetProcessAffinity();
    if (std::popcount(process) < 2)
        GTEST_SKIP() << "needs two processors";
    CAssertRecorder recorder;
    ThreadImpl* self = ThreadAttachCurrent("Main");
    const uint64_t lowest = LowestBit(process);
    ThreadSetAffinity(self, lowest, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
    EXPECT_EQ(ThreadGetProcessAffinity(), process);

    // A thread created now may still be bound to another processor.
    SGate gate;
    SThreadBody body{[&] { gate.Wait(); }};
    ThreadImpl* worker = CreateThreadRunning("Other", &body);
    const uint64_t other = LowestBit(process & ~lowest);
    ThreadSetAffinity(worker, other, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
    EXPECT_EQ(ThreadGetAffinity(worker, nullptr), other);
    EXPECT_EQ(recorder.Count(), 0u);
    gate.Open();
    ThreadDestroy(worker);
    ThreadSetAffinity(self, process, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
    ThreadDetachCurrent();
}

TEST(ThreadProcessors, CountsMatchWhatTheOsReports)
{
    uint32_t cores = 0;
    const uint32_t logical = ThreadGetNumProcessors(&cores);
    EXPECT_EQ(logical, ThreadGetNumProcessors(nullptr));
    EXPECT_GE(cores, 1u);
    EXPECT_LE(cores, logical);
    EXPECT_EQ(logical, std::thread::hardware_concurrency());
    uint32_t os_cores = 0;
    uint32_t os_logical = 0;
    if (OsCountCores(&os_cores, &os_logical))
    {
        EXPECT_EQ(cores, os_cores);
        EXPECT_EQ(logical, os_logical);
    }
    EXPECT_LT(ThreadGetCurrentProcessor(), 64u);
    EXPECT_NE((ThreadGetProcessAffinity() >> ThreadGetCurrentProcessor()) & 1, 0u);
}

TEST(ThreadProcessors, CoresAndLogicalProcessorsOfOtherMachines)
{
    struct SMachine
    {
        uint32_t m_Cores;
        uint32_t m_PerCore;
    };
    // The last two need more than the fixed buffer of processor records on Windows.
    for (SMachine machine : {SMachine{4, 2}, SMachine{3, 1}, SMachine{100, 2}, SMachine{40, 4}})
    {
        CFakeMachine fake(machine.m_Cores, machine.m_PerCore);
        uint32_t cores = 0;
        EXPECT_EQ(ThreadGetNumProcessors(&cores), machine.m_Cores * machine.m_PerCore);
        EXPECT_EQ(cores, machine.m_Cores);
    }
}
