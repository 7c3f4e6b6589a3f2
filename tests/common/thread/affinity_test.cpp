// Tests of thread and process affinity, ideal processors, processor and core counts, and
// the processor that a thread runs on. Portable: the same tests run on every OS.
#include <gtest/gtest.h>

#include <bit>
#include <thread>
#include <vector>

#include "common/thread/affinity.h"
#include "thread_os_support.h"
#include "thread_test_helpers.h"

static const char* const s_MaskCheck = "affinity_mask != 0";
static const char* const s_IdealCheck =
    "ideal_proc == THREAD_AFFINITY_IDEAL_PROCESSOR_ANY || (ideal_proc >= 0 && ideal_proc <= 63)";

static uint64_t LowestBit(uint64_t mask)
{
    return mask & (~mask + 1);
}

// A created thread that stays alive until the test ends.
class ThreadAffinity : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_Gate.Open();
        ThreadDestroy(m_Thread);
    }
    const uint64_t m_Process = ThreadGetProcessAffinity();
    SGate m_Gate;
    SThreadBody m_Body{[this] { m_Gate.Wait(); }};
    ThreadImpl* m_Thread = CreateThreadRunning("Affinity", &m_Body);
};

TEST_F(ThreadAffinity, EachProcessorSetReadsBackAndTheThreadRunsThere)
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
    std::vector<uint64_t> masks = {0};
    // Bits above 31 only, none the process's (in a 32-bit process the OS has no such bits).
    if (uint64_t high_only = 0xFFFFFFFF00000000ull & ~m_Process)
        masks.push_back(high_only);
    // A processor below 32 that the process may not use.
    if (uint64_t foreign = LowestBit(~m_Process & 0xFFFFFFFFull))
        masks.push_back(foreign);
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

TEST_F(ThreadAffinity, IdealProcessorChecksItsRangeAndIsKeptWhereTheOsHasOne)
{
    int32_t ideal_before = -5;
    ThreadGetAffinity(m_Thread, &ideal_before);
    {
        // -1 sets the mask only.
        CAssertRecorder recorder;
        ThreadSetAffinity(m_Thread, LowestBit(m_Process), THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
        int32_t ideal_after = -5;
        EXPECT_EQ(ThreadGetAffinity(m_Thread, &ideal_after), LowestBit(m_Process));
        EXPECT_EQ(ideal_after, ideal_before);
        EXPECT_EQ(recorder.Count(), 0u);
    }
    for (int32_t ideal : {64, -2})
    {
        CAssertRecorder recorder;
        ThreadSetAffinity(m_Thread, m_Process, ideal);
        ASSERT_GE(recorder.Count(), 1u) << ideal;
        EXPECT_EQ(recorder.Records()[0].m_Expression, s_IdealCheck);
        EXPECT_EQ(ThreadGetAffinity(m_Thread, nullptr), m_Process); // the mask still applies
    }
    // A valid one: Windows keeps it (wine accepts it and keeps none); POSIX has no ideal
    // processor, refuses it as Windows refuses one it cannot set, and reads back -1.
    const int32_t wanted = std::countr_zero(m_Process);
    CAssertRecorder recorder;
    ThreadSetAffinity(m_Thread, m_Process, wanted);
    int32_t ideal = -5;
    ThreadGetAffinity(m_Thread, &ideal);
    EXPECT_EQ(recorder.Saw("ret != -1"), ideal == -1);
    if (!recorder.Saw("ret != -1") && !OsIsWine())
    {
        EXPECT_EQ(ideal, wanted);
    }
}

TEST(ThreadProcessAffinity, SetReadsBackAndCoversNewThreads)
{
    CAssertRecorder recorder;
    const uint64_t original = ThreadGetProcessAffinity();
    ASSERT_NE(original, 0u);
    EXPECT_TRUE(sizeof(void*) == 8 || original >> 32 == 0);

    ThreadSetProcessAffinity(LowestBit(original));
    EXPECT_EQ(ThreadGetProcessAffinity(), LowestBit(original));
    uint64_t seen = 0;
    SThreadBody body{[&] { seen = ThreadGetAffinity(ThreadGetCurrent(), nullptr); }};
    ThreadDestroy(CreateThreadRunning("Narrow", &body));
    EXPECT_EQ(seen, LowestBit(original));

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
    ThreadSetAffinity(self, LowestBit(process), THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
    EXPECT_EQ(ThreadGetProcessAffinity(), process);

    // A thread created now starts with the process mask and may take another processor.
    SGate gate;
    SThreadBody body{[&] { gate.Wait(); }};
    ThreadImpl* worker = CreateThreadRunning("Other", &body);
    EXPECT_EQ(ThreadGetAffinity(worker, nullptr), process);
    const uint64_t other = LowestBit(process & (process - 1));
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
    EXPECT_EQ(logical, std::thread::hardware_concurrency());
    EXPECT_GE(cores, 1u);
    EXPECT_LE(cores, logical);
    uint32_t os_cores = 0, os_logical = 0;
    if (OsCountCores(&os_cores, &os_logical))
    {
        EXPECT_EQ(cores, os_cores);
        EXPECT_EQ(logical, os_logical);
    }
    EXPECT_NE((ThreadGetProcessAffinity() >> ThreadGetCurrentProcessor()) & 1, 0u);
}

TEST(ThreadProcessors, CoresAndLogicalProcessorsOfOtherMachines)
{
    // The last two need more than the fixed buffer of processor records on Windows.
    for (auto [machine_cores, per_core] : {std::pair{4u, 2u}, {3u, 1u}, {100u, 2u}, {40u, 4u}})
    {
        CFakeMachine fake(machine_cores, per_core);
        uint32_t cores = 0;
        EXPECT_EQ(ThreadGetNumProcessors(&cores), machine_cores * per_core);
        EXPECT_EQ(cores, machine_cores);
    }
}
