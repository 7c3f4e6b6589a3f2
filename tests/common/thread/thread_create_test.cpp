// Tests of thread creation, the per-name configuration table, stack sizes, names,
// priorities, adoption and detachment. Portable: the same tests run on every OS. An
// assertion that no recorder expects ends the test.
#include <gtest/gtest.h>

#include "thread_test_helpers.h"

// What the last created thread saw of itself: "init" and "entry" in the order they ran
// ("early" when its object, handle or name was not yet in place), its priority and mask.
static std::string s_Events;
static int s_Priority;
static uint64_t s_Affinity;

static void RunRecorded(const char* name)
{
    s_Events.clear();
    ThreadDestroy(ThreadCreate(
        name,
        [](void* arg) {
            s_Events += InPlace(static_cast<const char*>(arg)) ? "entry" : "early";
            s_Priority = ThreadGetPriority(ThreadGetCurrent());
            s_Affinity = ThreadGetAffinity(ThreadGetCurrent(), nullptr);
        },
        const_cast<char*>(name), 0));
}

TEST(ThreadConfig, DefaultTableGivesEveryNameNormalPriorityAndNoCallback)
{
    for (const char* name : {"", "N", "Worker"})
        EXPECT_EQ(ThreadFindConfig(name)->m_Name, nullptr) << name; // the last record
    RunRecorded("Worker");
    EXPECT_EQ(s_Events, "entry"); // no init callback
    EXPECT_EQ(s_Priority, E_THREAD_PRIORITY_NORMAL);
}

TEST(ThreadConfig, RecordAppliesToItsExactNameAndTheLastRecordToOthers)
{
    static int argument;
    const SThreadConfigEntry table[] = {
        {"N", E_THREAD_PRIORITY_HIGH, 2, &argument,
         [](void* arg) { s_Events += InPlace("N") && arg == &argument ? "init," : "early,"; }},
        {nullptr, E_THREAD_PRIORITY_NORMAL, -1, nullptr, nullptr},
    };
    SThreadConfigTable holder;
    holder.m_Entries = table;
    ThreadSetConfigTable(holder);
    EXPECT_EQ(ThreadFindConfig("NN"), &table[1]); // exact names, not prefixes

    RunRecorded("N");
    EXPECT_EQ(s_Events, "init,entry");
    // Without the privilege to raise priorities (POSIX) the thread stays normal, and says so.
    EXPECT_EQ(s_Priority,
              OsMayRaiseThreadPriority() ? E_THREAD_PRIORITY_HIGH : E_THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(s_Affinity, ThreadGetProcessAffinity()); // the record's processor binds nothing

    RunRecorded("n"); // another letter case is another name
    EXPECT_EQ(s_Events, "entry");
    EXPECT_EQ(s_Priority, E_THREAD_PRIORITY_NORMAL);
    ThreadSetConfigTable(SThreadConfigTable());
}

TEST(ThreadStack, SizesRoundUpToWholePagesOfAtLeastOne)
{
    // The largest request does not wrap around to 0.
    const std::pair<uint32_t, uint64_t> cases[] = {{0, 4096},      {1, 4096},
                                                   {4096, 4096},   {4097, 8192},
                                                   {65536, 65536}, {0xFFFFFFFF, 0x100000000}};
    for (auto [requested, rounded] : cases)
        EXPECT_EQ(ThreadRoundStackSize(requested), rounded) << requested;

    // A created thread's stack holds the rounded request; the second is above either OS's
    // default stack size.
    for (uint32_t requested : {65536u, 16u * 1024 * 1024 + 1})
    {
        uint32_t size = 0;
        RunThread("Stack", requested, [&] { size = ThreadGetStackSize(); });
        EXPECT_GE(size, ThreadRoundStackSize(requested)) << requested;
    }
}

// 200 characters: a thread object stores the first 127; the OS is told all of them and
// keeps what it can.
static const std::string s_LongName = std::string(150, 'a') + std::string(50, 'b');
static const std::string s_Stored = s_LongName.substr(0, 127);

TEST(ThreadCreated, KeepsItsCutNameAndItsObjectWhenItDetachesAndExitsWithZero)
{
    CAssertRecorder recorder;
    std::string seen, os_seen;
    bool cleared = false;
    std::function<void()> body = [&] {
        seen = ThreadGetCurrentName();
        os_seen = OsCurrentThreadName();
        ThreadDetachCurrent(); // the object belongs to whoever calls ThreadDestroy
        cleared = ThreadGetCurrent() == nullptr;
    };
    ThreadImpl* thread = CreateThreadRunning(s_LongName.c_str(), &body);
    EXPECT_EQ(OsTakeThreadExitCode(thread), 0u);
    EXPECT_EQ(seen, s_Stored);
    EXPECT_EQ(os_seen, OsKeptName(s_LongName));
    EXPECT_TRUE(cleared);
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression, "thread_impl->m_Entry == NULL");
    EXPECT_EQ(ThreadGetName(thread), s_Stored); // the object survived, freed once here
    ThreadDestroy(thread);
}

// A foreign thread adopted under a long name; a second adoption asserts and changes nothing.
// Its object stands for it when used from another thread: priorities set there reach it,
// read back from the OS, and leave the caller's own alone.
TEST(ThreadAdoption, AForeignThreadIsAdoptedOnceAndItsObjectStandsForItFromOtherThreads)
{
    CAssertRecorder recorder;
    ThreadImpl* self = ThreadAttachCurrent("Main");
    SGate adopted, set;
    ThreadImpl* object = nullptr;
    int own_priority = -1;
    std::thread foreign([&] {
        EXPECT_STREQ(ThreadGetCurrentName(), THREAD_UNKNOWN_NAME);
        ThreadDetachCurrent(); // no object: nothing happens
        object = ThreadAttachCurrent(s_LongName.c_str());
        EXPECT_EQ(OsCurrentThreadName(), OsKeptName(s_LongName));
        EXPECT_EQ(ThreadAttachCurrent("Second"), nullptr);
        EXPECT_EQ(ThreadGetCurrent(), object);
        EXPECT_EQ(ThreadGetCurrentName(), s_Stored); // not renamed
        adopted.m_Open = true;
        set.Wait();
        own_priority = ThreadGetPriority(ThreadGetCurrent());
        ThreadDetachCurrent();
        EXPECT_EQ(ThreadGetCurrent(), nullptr);
    });
    ASSERT_TRUE(adopted.Wait());
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression, "thread == NULL");
    EXPECT_NE(ThreadGetId(object), ThreadGetCurrentId());
    // Raising is refused without privilege (POSIX), and the reading tells the truth.
    const int high = OsMayRaiseThreadPriority() ? 1 : 0;
    for (auto [priority, os] :
         {std::pair{E_THREAD_PRIORITY_HIGH, high}, {E_THREAD_PRIORITY_LOW, -1}})
    {
        ThreadSetPriority(object, priority);
        EXPECT_EQ(OsThreadPriority(object), os) << priority;
        EXPECT_EQ(ThreadGetPriority(object), os + 1) << priority;
    }
    ThreadSetPriority(object, static_cast<EThreadPriority>(7));
    ASSERT_EQ(recorder.Count(), 2u);
    EXPECT_EQ(recorder.Records()[1].m_Expression, "false && \"This should not happen!\"");
    set.m_Open = true;
    foreign.join();
    EXPECT_EQ(own_priority, E_THREAD_PRIORITY_LOW);
    EXPECT_EQ(ThreadGetPriority(self), E_THREAD_PRIORITY_NORMAL);
    ThreadDetachCurrent();
}

// A thread that the layer never saw has no object and the fallback name.
TEST(CurrentThread, ForeignThreadHasNoObjectAndTheFallbackName)
{
    const std::string fallback = "Unknown Thread (Function temporarily disabled for Win32)";
    EXPECT_EQ(ThreadGetCurrent(), nullptr);
    EXPECT_EQ(ThreadGetCurrentName(), fallback);
    EXPECT_EQ(ThreadGetCurrentThreadName(), fallback);
    EXPECT_EQ(ThreadLookupName(), fallback);
    EXPECT_EQ(ThreadGetCurrentName(), ThreadGetCurrentName()); // a fixed string, not a copy

    uint32_t mainId = ThreadGetCurrentId();
    uint32_t otherId = mainId;
    std::thread other([&] { otherId = ThreadGetCurrentId(); });
    other.join();
    EXPECT_NE(mainId, 0u);
    EXPECT_NE(otherId, mainId);
    EXPECT_EQ(ThreadGetCurrentId(), mainId);
}
