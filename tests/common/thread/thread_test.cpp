// Thread creation, the per-name configuration table, stack sizes, names, adoption,
// affinity and many lifetimes. Portable: the same tests on every OS. An
// assertion that no recorder expects ends the test.
#include <bit>
#include <memory>

#include "test_support.h"

// Starts a created thread that runs the body, its own copy of which it frees after the run.
using SBody = std::function<void()>;
static ThreadImpl* Start(const char* name, SBody body)
{
    return ThreadCreate(
        name, [](void* arg) { (*std::unique_ptr<SBody>(static_cast<SBody*>(arg)))(); },
        new SBody(std::move(body)), 0);
}

// The calling thread has its object, with its handle, id and name.
static bool InPlace(const std::string& name)
{
    ThreadImpl* self = ThreadGetCurrent();
    return self != nullptr && self->m_Thread != nullptr &&
           ThreadGetId(self) == ThreadGetCurrentId() && ThreadGetCurrentName() == name;
}

// A record applies to its exact name: its init callback gets its argument and its priority
// (read back) before the entry runs, with the thread in place. The last record applies to every
// other name.
TEST(ThreadConfig, RecordsMatchExactNamesAndTheLastRecordTheRest)
{
    static int s_Argument;
    static std::string s_Events;
    const SThreadConfigEntry table[] = {
        {"N", E_THREAD_PRIORITY_LOW, -1, &s_Argument,
         [](void* arg) {
             s_Events += InPlace("N") && arg == &s_Argument &&
                                 ThreadGetPriority(ThreadGetCurrent()) == E_THREAD_PRIORITY_LOW
                             ? "init "
                             : "early ";
         }},
        {nullptr, E_THREAD_PRIORITY_NORMAL, -1, nullptr, nullptr}};
    SThreadConfigTable holder;
    holder.m_Entries = table;
    ThreadSetConfigTable(holder);
    for (const char* name : {"N", "NN", "n", ""})
        ThreadDestroy(Start(name, [&] { s_Events += InPlace(name) ? "entry " : "early "; }));
    EXPECT_EQ(s_Events, "init entry entry entry entry ");
    ThreadSetConfigTable(SThreadConfigTable());
}

// Stacks round up to whole pages, at least one, without wrapping.
TEST(ThreadStack, SizesRoundUpToWholePagesOfAtLeastOne)
{
    const std::pair<uint32_t, uint64_t> cases[] = {{0, 4096},      {1, 4096},
                                                   {4096, 4096},   {4097, 8192},
                                                   {65536, 65536}, {0xFFFFFFFF, 0x100000000}};
    for (auto [requested, rounded] : cases)
        EXPECT_EQ(ThreadRoundStackSize(requested), rounded) << requested;
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
    std::atomic<bool> done{false};
    ThreadImpl* existing = Start("Existing", [&] { WaitUntil([&] { return done.load(); }); });
    const std::tuple<uint64_t, int32_t, const char*, uint64_t> cases[] = {
        {highest, any, "", highest},
        {~0ull, any, "", process},
        {0, any, "affinity_mask != 0", process},
        {0xFFFFFFFF00000000ull & ~process, any, "affinity_mask != 0", process},
        {lowest, 64, "ideal_proc == THREAD_AFFINITY_IDEAL_PROCESSOR_ANY", lowest}};
    for (auto [mask, ideal, check, after] : cases)
    {
        CAssertRecorder recorder;
        ThreadSetAffinity(existing, mask, ideal);
        EXPECT_TRUE(*check != 0 ? recorder.Saw(check) : recorder.Expressions().empty()) << check;
        EXPECT_EQ(ThreadGetAffinity(existing, nullptr), after) << std::hex << mask;
    }
    ThreadImpl* self = ThreadAttachCurrent("Main");
    for (uint64_t mask : {highest, process}) // the original mask comes back last
    {
        ThreadSetProcessAffinity(mask);
        EXPECT_EQ(ThreadGetProcessAffinity(), mask);
        EXPECT_EQ(ThreadGetAffinity(existing, nullptr), mask);
        EXPECT_EQ(ThreadGetAffinity(self, nullptr), mask);
        ThreadSetAffinity(self, lowest & mask ? lowest : mask, any);
        uint64_t seen = 0;
        ThreadDestroy(Start("New", [&] { seen = ThreadGetAffinity(ThreadGetCurrent(), nullptr); }));
        EXPECT_EQ(seen, mask) << std::hex << mask;
    }
    ThreadSetAffinity(self, process, any);
    ThreadDetachCurrent();
    done = true;
    ThreadDestroy(existing);
}

// Many lifetimes from two threads at once. Created threads keep their names cut to 127
// bytes, between two characters of "é" (1 to 4 digits first, so both cuts occur), and are
// in place when their own code runs. Foreign threads have no object
// and the fallback name until adopted, once: a second adoption asserts and changes nothing.
// The sanitizers' leak checks see every object, handle and hand-over go.
static const std::string s_Fallback = "Unknown Thread (Function temporarily disabled for Win32)";

TEST(ThreadStress, HundredsOfCreatedAndAdoptedThreadsComeAndGo)
{
    static std::atomic<int> s_InPlace{0};
    CAssertRecorder asserts;
    const auto run = [](int creator) {
        for (int index = 0; index < 150; ++index)
        {
            const std::string digits = std::to_string(creator * 1000 + index);
            std::string name = digits;
            while (name.size() < digits.size() + 130)
                name += "\xC3\xA9";
            const std::string cut = name.substr(0, 127 - (127 - digits.size()) % 2);
            ThreadDestroy(Start(name.c_str(), [&] { s_InPlace += InPlace(cut); }));
            std::thread([&] {
                s_InPlace += ThreadGetCurrent() == nullptr && ThreadGetCurrentName() == s_Fallback;
                ThreadImpl* object = ThreadAttachCurrent(name.c_str());
                s_InPlace += ThreadAttachCurrent("Second") == nullptr &&
                             ThreadGetCurrent() == object && InPlace(cut);
                ThreadDetachCurrent();
                s_InPlace -= ThreadGetCurrent() != nullptr;
            }).join();
        }
    };
    RunThreads(2, run);
    EXPECT_EQ(s_InPlace, 2 * 3 * 150);
    EXPECT_EQ(asserts.Expressions(), std::vector<std::string>(2 * 150, "thread == NULL"));
}
