// Thread creation, the per-name configuration table, stack sizes, names, adoption,
// affinity, processor counts and many lifetimes. Portable: the same tests on every OS. An
// assertion that no recorder expects ends the test.
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <thread>
#include <tuple>

#include "common/thread/affinity.h"
#include "common/thread/thread.h"
#include "test_support.h"
#include "thread_os_support.h"

// Starts a created thread running *body, which must outlive it.
static ThreadImpl* Start(const char* name, std::function<void()>* body, uint32_t stack = 0)
{
    return ThreadCreate(
        name, [](void* arg) { (*static_cast<std::function<void()>*>(arg))(); }, body, stack);
}

static void RunThread(const char* name, std::function<void()> body, uint32_t stack = 0)
{
    ThreadDestroy(Start(name, &body, stack));
}

// The calling thread has its object, with its handle, id and name.
static bool InPlace(const std::string& name)
{
    ThreadImpl* self = ThreadGetCurrent();
    return self != nullptr && self->m_Thread != nullptr &&
           ThreadGetId(self) == ThreadGetCurrentId() && ThreadGetCurrentName() == name;
}

// A record applies to its exact name: its init callback gets its argument before the entry
// runs, with the thread in place. The last record applies to every other name.
TEST(ThreadConfig, RecordsMatchExactNamesAndTheLastRecordTheRest)
{
    static int s_Argument;
    static std::string s_Events;
    const SThreadConfigEntry table[] = {
        {"N", E_THREAD_PRIORITY_NORMAL, -1, &s_Argument,
         [](void* arg) { s_Events += InPlace("N") && arg == &s_Argument ? "init " : "early "; }},
        {nullptr, E_THREAD_PRIORITY_NORMAL, -1, nullptr, nullptr},
    };
    SThreadConfigTable holder;
    holder.m_Entries = table;
    ThreadSetConfigTable(holder);
    for (const char* name : {"N", "NN", "n", ""})
        RunThread(name, [&] { s_Events += InPlace(name) ? "entry " : "early "; });
    EXPECT_EQ(s_Events, "init entry entry entry entry ");
    EXPECT_EQ(ThreadFindConfig(""), &table[1]);
    ThreadSetConfigTable(SThreadConfigTable());
}

TEST(ThreadStack, SizesRoundUpToWholePagesOfAtLeastOne)
{
    for (auto [requested, rounded] : {std::pair<uint32_t, uint64_t>{0, 4096},
                                      {1, 4096},
                                      {4096, 4096},
                                      {4097, 8192},
                                      {0xFFFFFFFF, 0x100000000}})
        EXPECT_EQ(ThreadRoundStackSize(requested), rounded) << requested;
    uint32_t size = 0; // a request above either OS's default stack size
    RunThread(
        "Stack", [&] { size = ThreadGetStackSize(); }, 16u * 1024 * 1024 + 1);
    EXPECT_GE(size, 16u * 1024 * 1024 + 4096);
}

// Names keep their first 127 characters. A foreign thread has no object and the fallback
// name until it is adopted, once: a second adoption asserts and changes nothing.
TEST(ThreadNames, CutAt127AdoptedOnceAndTheFallbackBefore)
{
    const std::string name = std::string(150, 'a') + "b", cut = name.substr(0, 127);
    const std::string fallback = "Unknown Thread (Function temporarily disabled for Win32)";
    std::string seen;
    RunThread(name.c_str(), [&] { seen = ThreadGetCurrentName(); });
    EXPECT_EQ(seen, cut);
    CAssertRecorder asserts;
    uint32_t foreignId = ThreadGetCurrentId();
    std::thread([&] {
        EXPECT_EQ(ThreadGetCurrent(), nullptr);
        EXPECT_EQ(ThreadGetCurrentName(), fallback);
        EXPECT_EQ(ThreadLookupName(), fallback);
        ThreadImpl* object = ThreadAttachCurrent(name.c_str());
        EXPECT_EQ(ThreadAttachCurrent("Second"), nullptr);
        EXPECT_EQ(ThreadGetCurrent(), object);
        EXPECT_TRUE(InPlace(cut));
        foreignId = ThreadGetCurrentId();
        ThreadDetachCurrent();
        EXPECT_EQ(ThreadGetCurrent(), nullptr);
    }).join();
    EXPECT_NE(foreignId, ThreadGetCurrentId());
    EXPECT_EQ(asserts.Expressions(), std::vector<std::string>{"thread == NULL"});
}

// Masks keep the process's processors; an empty one (bits above 31 only are empty in a
// 32-bit process) is refused and changes nothing; with a stray ideal processor the mask
// still applies. A process mask reaches every thread there is, and a new thread starts
// with it, not with its creator's mask.
TEST(ThreadAffinity, MasksAreClippedEmptyOnesAssertAndTheProcessMaskReachesEveryThread)
{
    const uint64_t process = ThreadGetProcessAffinity(), lowest = process & (~process + 1);
    const uint64_t highest = 1ull << (63 - std::countl_zero(process));
    const int32_t any = THREAD_AFFINITY_IDEAL_PROCESSOR_ANY;
    const char* const empty = "affinity_mask != 0";
    const char* const stray = "ideal_proc == THREAD_AFFINITY_IDEAL_PROCESSOR_ANY || "
                              "(ideal_proc >= 0 && ideal_proc <= 63)";
    std::atomic<bool> done{false};
    std::function<void()> wait = [&] { WaitUntil([&] { return done.load(); }); };
    ThreadImpl* existing = Start("Existing", &wait);
    for (auto [mask, ideal, check, after] :
         {std::tuple{highest, any, "", highest},
          {~0ull, any, "", process},
          {0ull, any, empty, process},
          {0xFFFFFFFF00000000ull & ~process, any, empty, process},
          {lowest, 64, stray, lowest},
          {lowest, -2, stray, lowest}})
    {
        CAssertRecorder recorder;
        ThreadSetAffinity(existing, mask, ideal);
        EXPECT_EQ(recorder.Count() != 0 ? recorder.Records()[0].m_Expression : "", check);
        EXPECT_EQ(OsThreadAffinity(existing), after) << std::hex << mask;
    }
    ThreadImpl* self = ThreadAttachCurrent("Main");
    for (uint64_t mask : {highest, process}) // the original mask comes back last
    {
        ThreadSetProcessAffinity(mask);
        EXPECT_EQ(ThreadGetProcessAffinity(), mask);
        EXPECT_EQ(OsThreadAffinity(existing), mask);
        EXPECT_EQ(OsThreadAffinity(self), mask);
        ThreadSetAffinity(self, lowest & mask ? lowest : mask, any);
        uint64_t seen = 0;
        RunThread("New", [&] { seen = OsThreadAffinity(ThreadGetCurrent()); });
        EXPECT_EQ(seen, mask) << std::hex << mask;
    }
    ThreadSetAffinity(self, process, any);
    ThreadDetachCurrent();
    done = true;
    ThreadDestroy(existing);
}

TEST(ThreadProcessors, CoresAndLogicalProcessorsOfOtherMachines)
{
    // The last two need more than the fixed buffer of processor records on Windows.
    for (auto [machineCores, perCore] : {std::pair{4u, 2u}, {3u, 1u}, {100u, 2u}, {40u, 4u}})
    {
        CFakeMachine fake(machineCores, perCore);
        uint32_t cores = 0;
        EXPECT_EQ(ThreadGetNumProcessors(&cores), machineCores * perCore);
        EXPECT_EQ(cores, machineCores);
    }
}

// Many lifetimes from two threads at once, created and adopted, each in place when its own
// code runs; the sanitizers' leak checks see every object, handle and hand-over go.
TEST(ThreadStress, HundredsOfCreatedAndAdoptedThreadsComeAndGo)
{
    static std::atomic<int> s_InPlace{0};
    const auto run = [](int creator) {
        for (int index = 0; index < 150; ++index)
        {
            const std::string name = "S" + std::to_string(creator) + "-" + std::to_string(index);
            RunThread(name.c_str(), [&] { s_InPlace += InPlace(name); });
            std::thread([&] {
                s_InPlace += ThreadAttachCurrent(name.c_str()) != nullptr && InPlace(name);
                ThreadDetachCurrent();
                s_InPlace -= ThreadGetCurrent() != nullptr;
            }).join();
        }
    };
    std::thread second(run, 1);
    run(0);
    second.join();
    EXPECT_EQ(s_InPlace, 2 * 2 * 150);
}
