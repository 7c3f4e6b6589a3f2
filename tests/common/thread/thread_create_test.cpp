// Tests of thread creation, the per-name configuration table, stack sizes, names,
// priorities, adoption and detachment. Portable: the same tests run on every OS.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/thread/affinity.h"
#include "thread_os_support.h"
#include "thread_test_helpers.h"

// What a created thread saw of itself, from its init callback and its entry function.
struct SSeen
{
    std::vector<std::string> m_Events;
    void* m_InitArg = nullptr;
    bool m_HandleInPlace = false;
    std::string m_Name;
    int m_Priority = -1;
    uint64_t m_Affinity = 0;
};
static SSeen s_Seen;

static void RecordInit(void* arg)
{
    ThreadImpl* self = ThreadGetCurrent();
    s_Seen.m_Events.push_back("init");
    s_Seen.m_InitArg = arg;
    // The creator stored the handle and the name before any of the thread's own code ran.
    s_Seen.m_HandleInPlace =
        self != nullptr && self->m_Thread != nullptr && ThreadGetId(self) == ThreadGetCurrentId();
    s_Seen.m_Name = ThreadGetCurrentName();
}

static void RecordEntry(void*)
{
    s_Seen.m_Events.push_back("entry");
    s_Seen.m_Priority = ThreadGetPriority(ThreadGetCurrent());
    s_Seen.m_Affinity = ThreadGetAffinity(ThreadGetCurrent(), nullptr);
}

static void RunRecorded(const char* name)
{
    s_Seen = SSeen();
    ThreadDestroy(ThreadCreate(name, &RecordEntry, nullptr, 0));
}

TEST(ThreadConfig, DefaultTableGivesEveryNameNormalPriorityAndNoCallback)
{
    for (const char* name : {"Worker", "", "N"})
    {
        const SThreadConfigEntry* config = ThreadFindConfig(name);
        EXPECT_EQ(config->m_Name, nullptr);
        EXPECT_EQ(config->m_Priority, E_THREAD_PRIORITY_NORMAL);
        EXPECT_EQ(config->m_Processor, -1);
        EXPECT_EQ(config->m_InitCallback, nullptr);
    }
    RunRecorded("Worker");
    EXPECT_EQ(s_Seen.m_Events, std::vector<std::string>{"entry"});
    EXPECT_EQ(s_Seen.m_Priority, E_THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(s_Seen.m_Affinity, ThreadGetProcessAffinity()); // no processor binding
}

TEST(ThreadConfig, RecordAppliesToItsExactNameAndTheLastRecordToOthers)
{
    int argument = 0;
    const SThreadConfigEntry table[] = {
        {"N", E_THREAD_PRIORITY_HIGH, 2, &argument, &RecordInit},
        {nullptr, E_THREAD_PRIORITY_NORMAL, -1, nullptr, nullptr},
    };
    SThreadConfigTable holder;
    holder.m_Entries = table;
    ThreadSetConfigTable(holder);
    EXPECT_EQ(ThreadFindConfig("N"), &table[0]);
    EXPECT_EQ(ThreadFindConfig("NN"), &table[1]);

    RunRecorded("N");
    EXPECT_EQ(s_Seen.m_Events, (std::vector<std::string>{"init", "entry"}));
    EXPECT_EQ(s_Seen.m_InitArg, &argument);
    EXPECT_TRUE(s_Seen.m_HandleInPlace);
    EXPECT_EQ(s_Seen.m_Name, "N");
    // Without the privilege to raise priorities (POSIX) the thread stays normal, and says so.
    EXPECT_EQ(s_Seen.m_Priority,
              OsMayRaiseThreadPriority() ? E_THREAD_PRIORITY_HIGH : E_THREAD_PRIORITY_NORMAL);
    // The record's processor binds nothing: ThreadSetProcessor has no effect.
    EXPECT_EQ(s_Seen.m_Affinity, ThreadGetProcessAffinity());

    RunRecorded("n"); // another letter case is another name
    EXPECT_EQ(s_Seen.m_Events, std::vector<std::string>{"entry"});
    EXPECT_EQ(s_Seen.m_Priority, E_THREAD_PRIORITY_NORMAL);

    ThreadSetConfigTable(SThreadConfigTable());
    EXPECT_EQ(ThreadFindConfig("N")->m_Name, nullptr);
}

TEST(ThreadStack, SizesRoundUpToWholePagesOfAtLeastOne)
{
    EXPECT_EQ(ThreadRoundStackSize(0), 4096u);
    EXPECT_EQ(ThreadRoundStackSize(1), 4096u);
    EXPECT_EQ(ThreadRoundStackSize(4096), 4096u);
    EXPECT_EQ(ThreadRoundStackSize(4097), 8192u);
    EXPECT_EQ(ThreadRoundStackSize(65536), 65536u);
    EXPECT_EQ(ThreadRoundStackSize(0xFFFFFFFFu), 0x100000000ull); // no wrap to 0

    // A created thread's stack holds at least the rounded request; the last request is
    // above either OS's default stack size.
    for (uint32_t requested : {0u, 1u, 4096u, 4097u, 65536u, 16u * 1024 * 1024 + 1})
    {
        uint32_t size = 0;
        SThreadBody body{[&] { size = ThreadGetStackSize(); }};
        ThreadDestroy(CreateThreadRunning("Stack", &body, requested));
        EXPECT_GE(size, ThreadRoundStackSize(requested)) << "requested " << requested;
    }
}

TEST(ThreadName, LongNamesAreStoredCutWhileTheOsIsToldAsMuchAsItKeeps)
{
    const std::string full = std::string(150, 'a') + std::string(50, 'b');
    const std::string stored = full.substr(0, 127);
    const std::string os_kept = full.substr(0, std::min(full.size(), OsThreadNameLimit()));
    // Windows before 10 keeps no thread description to compare.
    auto check_os_name = [&](const std::string& os_name) {
        if (!os_name.empty() || OsThreadNameLimit() != static_cast<size_t>(-1))
        {
            EXPECT_EQ(os_name, os_kept);
        }
    };

    std::string seen, os_seen;
    SGate named, gate;
    SThreadBody body{[&] {
        seen = ThreadGetCurrentName();
        os_seen = OsCurrentThreadName();
        named.Open();
        gate.Wait();
    }};
    ThreadImpl* thread = CreateThreadRunning(full.c_str(), &body);
    EXPECT_EQ(std::string(ThreadGetName(thread)), stored);
    // Announcing to another thread (raised without a debugger: the process goes on).
    ASSERT_TRUE(named.Wait());
    const std::string other = "Announced thread with a long name";
    EXPECT_EQ(OsAnnouncedName(ThreadGetId(thread), other.c_str()),
              other.substr(0, std::min(other.size(), OsThreadNameLimit())));
    gate.Open();
    ThreadDestroy(thread);
    EXPECT_EQ(seen, stored);
    check_os_name(os_seen);

    std::thread foreign([&] {
        EXPECT_STREQ(ThreadGetCurrentName(), THREAD_UNKNOWN_NAME);
        ThreadAttachCurrent(full.c_str());
        EXPECT_EQ(std::string(ThreadGetCurrentName()), stored);
        check_os_name(OsCurrentThreadName());
        ThreadDetachCurrent();
        EXPECT_STREQ(ThreadGetCurrentName(), THREAD_UNKNOWN_NAME);
    });
    foreign.join();
}

TEST(ThreadAdoption, SecondAttachAssertsAndKeepsTheFirstObject)
{
    CAssertRecorder recorder;
    std::thread foreign([&] {
        ThreadDetachCurrent(); // no object: nothing happens
        EXPECT_EQ(ThreadGetCurrent(), nullptr);
        ThreadImpl* first = ThreadAttachCurrent("First");
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(ThreadGetId(first), ThreadGetCurrentId());
        EXPECT_EQ(recorder.Count(), 0u);

        EXPECT_EQ(ThreadAttachCurrent("Second"), nullptr);
        ASSERT_EQ(recorder.Count(), 1u);
        EXPECT_EQ(recorder.Records()[0].m_Expression, "thread == NULL");
        EXPECT_EQ(ThreadGetCurrent(), first);
        EXPECT_STREQ(ThreadGetCurrentName(), "First");
        ThreadDetachCurrent();
        EXPECT_EQ(ThreadGetCurrent(), nullptr);
    });
    foreign.join();
    EXPECT_EQ(recorder.Count(), 1u);
}

TEST(ThreadAdoption, DetachingACreatedThreadAssertsKeepsItsObjectAndExitsWithZero)
{
    CAssertRecorder recorder;
    bool cleared = false;
    SThreadBody body{[&] {
        ThreadDetachCurrent();
        cleared = ThreadGetCurrent() == nullptr;
    }};
    ThreadImpl* thread = CreateThreadRunning("Created", &body);
    uint32_t exit_code = 1;
    ASSERT_TRUE(OsTakeThreadExitCode(thread, &exit_code));
    EXPECT_EQ(exit_code, 0u); // whatever the entry function did
    EXPECT_TRUE(cleared);
    EXPECT_TRUE(recorder.Saw("thread_impl->m_Entry == NULL"));
    // The object survived: still readable, and freed once by ThreadDestroy.
    EXPECT_STREQ(ThreadGetName(thread), "Created");
    ThreadDestroy(thread);
}

TEST(ThreadPriority, SetReadsBackAndValuesOutsideTheEnumerationAssert)
{
    CAssertRecorder recorder;
    SGate gate;
    SThreadBody body{[&] { gate.Wait(); }};
    ThreadImpl* thread = CreateThreadRunning("Priority", &body);

    ThreadSetPriority(thread, E_THREAD_PRIORITY_LOW);
    EXPECT_EQ(ThreadGetPriority(thread), E_THREAD_PRIORITY_LOW);
    ThreadSetPriority(thread, E_THREAD_PRIORITY_HIGH);
    // Refused without privilege (POSIX), and the reading tells the truth.
    EXPECT_EQ(ThreadGetPriority(thread),
              OsMayRaiseThreadPriority() ? E_THREAD_PRIORITY_HIGH : E_THREAD_PRIORITY_LOW);
    EThreadPriority before = ThreadGetPriority(thread);
    EXPECT_EQ(recorder.Count(), 0u);

    ThreadSetPriority(thread, static_cast<EThreadPriority>(7));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression, "false && \"This should not happen!\"");
    EXPECT_EQ(ThreadGetPriority(thread), before);
    gate.Open();
    ThreadDestroy(thread);
}

TEST(ThreadAdoption, AnAdoptedObjectStandsForItsThreadWhenUsedFromAnother)
{
    ThreadImpl* self = ThreadAttachCurrent("Main");
    const uint64_t process = ThreadGetProcessAffinity();
    const uint64_t lowest = process & (~process + 1);

    SGate adopted, done;
    ThreadImpl* object = nullptr;
    int own_priority = -1;
    uint64_t own_affinity = 0;
    std::thread worker([&] {
        object = ThreadAttachCurrent("Adopted");
        adopted.Open();
        done.Wait();
        own_priority = ThreadGetPriority(ThreadGetCurrent());
        own_affinity = ThreadGetAffinity(ThreadGetCurrent(), nullptr);
        ThreadDetachCurrent();
    });
    ASSERT_TRUE(adopted.Wait());
    ThreadSetPriority(object, E_THREAD_PRIORITY_LOW);
    ThreadSetAffinity(object, lowest, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
    EXPECT_NE(ThreadGetId(object), ThreadGetCurrentId());
    done.Open();
    worker.join();

    EXPECT_EQ(own_priority, E_THREAD_PRIORITY_LOW);
    EXPECT_EQ(own_affinity, lowest);
    // The calling thread kept its own settings.
    EXPECT_EQ(ThreadGetPriority(self), E_THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(ThreadGetAffinity(self, nullptr), process);
    ThreadDetachCurrent();
}
