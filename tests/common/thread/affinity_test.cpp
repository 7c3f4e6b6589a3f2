// Tests of thread and process affinity, ideal processors, processor and core counts, and
// the processor that a thread runs on. Portable: the same tests run on every OS. An
// assertion that no recorder expects ends the test.
#include <gtest/gtest.h>

#include <bit>
#include <tuple>

#include "thread_test_helpers.h"

static const int32_t s_Any = THREAD_AFFINITY_IDEAL_PROCESSOR_ANY;

TEST(ThreadAffinity, MasksReadBackClippedToTheProcessAndEmptyOnesOrStrayIdealsAssert)
{
    const uint64_t process = ThreadGetProcessAffinity();
    const uint64_t lowest = process & (~process + 1);
    const uint64_t highest = 1ull << (63 - std::countl_zero(process));
    const char* const empty = "affinity_mask != 0";
    const char* const stray = "ideal_proc == THREAD_AFFINITY_IDEAL_PROCESSOR_ANY || "
                              "(ideal_proc >= 0 && ideal_proc <= 63)";
    SGate gate;
    std::function<void()> body = [&] { gate.Wait(); };
    ThreadImpl* thread = CreateThreadRunning("Affinity", &body);
    EXPECT_EQ(ThreadGetAffinity(thread, nullptr), process);
    // Masks keep the process's processors; one left empty is refused and changes nothing,
    // e.g. bits above 31 only (in a 32-bit process the OS has no such bits). With a stray
    // ideal processor the mask still applies.
    for (auto [mask, ideal, check, after] :
         {std::tuple{highest, s_Any, "", highest},
          {~0ull, s_Any, "", process},
          {0ull, s_Any, empty, process},
          {0xFFFFFFFF00000000ull & ~process, s_Any, empty, process},
          {lowest, 64, stray, lowest},
          {lowest, -2, stray, lowest}})
    {
        CAssertRecorder recorder;
        ThreadSetAffinity(thread, mask, ideal);
        EXPECT_EQ(recorder.Count() != 0 ? recorder.Records()[0].m_Expression : "", check)
            << std::hex << mask << " " << ideal;
        EXPECT_EQ(ThreadGetAffinity(thread, nullptr), after) << std::hex << mask;
    }
    gate.m_Open = true;
    ThreadDestroy(thread);
}

// The process's mask changed behind the layer's back (as taskset -a -p does) is what the
// layer reads. A mask set through the layer reaches every thread there is, and every new
// thread starts with it, not with its creator's mask.
TEST(ThreadProcessAffinity, OutsideChangesAreReadAndASetMaskReachesExistingAndNewThreads)
{
    const uint64_t process = ThreadGetProcessAffinity();
    const uint64_t lowest = process & (~process + 1);
    const uint64_t highest = 1ull << (63 - std::countl_zero(process));
    OsSetProcessAffinity(highest);
    EXPECT_EQ(ThreadGetProcessAffinity(), highest);
    OsSetProcessAffinity(process);
    SGate gate;
    std::function<void()> body = [&] { gate.Wait(); };
    ThreadImpl* existing = CreateThreadRunning("Existing", &body);
    ThreadImpl* self = ThreadAttachCurrent("Main");
    for (uint64_t mask : {highest, process}) // the original mask comes back last
    {
        ThreadSetProcessAffinity(mask);
        EXPECT_EQ(ThreadGetProcessAffinity(), mask);
        EXPECT_EQ(OsThreadAffinity(existing), mask);
        EXPECT_EQ(OsThreadAffinity(self), mask);
        ThreadSetAffinity(self, lowest & mask ? lowest : mask, s_Any);
        uint64_t seen = 0;
        RunThread("New", 0, [&] { seen = OsThreadAffinity(ThreadGetCurrent()); });
        EXPECT_EQ(seen, mask) << std::hex << mask;
    }
    ThreadSetAffinity(self, process, s_Any);
    ThreadDetachCurrent();
    gate.m_Open = true;
    ThreadDestroy(existing);
}

// Processors past the mask word (64 and up, 32 and up in a 32-bit process) have no bit: a
// process that may use only those reads as 0, without an assertion, and the threads that
// it creates keep all their processors.
TEST(ThreadProcessAffinity, ProcessorsPastTheMaskWordNeverAssert)
{
    const unsigned word = 8 * sizeof(void*);
    for (auto [allowed, low] : {std::pair{std::vector<unsigned>{word, word + 7}, 0ull},
                                {std::vector<unsigned>{1, word}, 2ull}})
    {
        CFakeAffinity fake(allowed);
        if (!fake.Active())
            GTEST_SKIP() << "no affinity seams on this OS";
        CAssertRecorder asserts;
        EXPECT_EQ(ThreadGetProcessAffinity(), low);
        uint64_t seen = ~0ull;
        uint32_t id = 0;
        RunThread("Beyond", 0, [&] {
            seen = ThreadGetAffinity(ThreadGetCurrent(), nullptr);
            id = ThreadGetCurrentId();
        });
        EXPECT_EQ(seen, low);
        EXPECT_EQ(fake.Allowed(id), allowed);
        EXPECT_EQ(asserts.Count(), 0u);
    }
}

TEST(ThreadProcessors, CountsMatchWhatTheOsReports)
{
    uint32_t cores = 0, os_cores = 0, os_logical = 0;
    const uint32_t logical = ThreadGetNumProcessors(&cores);
    EXPECT_EQ(ThreadGetNumProcessors(nullptr), logical);
    EXPECT_GE(cores, 1u);
    EXPECT_LE(cores, logical);
    if (OsCountCores(&os_cores, &os_logical))
    {
        EXPECT_EQ(cores, os_cores);
        EXPECT_EQ(logical, os_logical);
    }
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
