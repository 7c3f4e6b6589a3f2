// Thread creation, the per-name configuration table, stack sizes, names, priorities,
// adoption and detachment.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/thread/affinity.h"
#include "support/thread_os_support.h"
#include "thread_test_helpers.h"

static const char* const s_NotHappen = "false && \"This should not happen!\"";

TEST(ThreadConfig, DefaultTableGivesEveryNameNormalPriorityAndNoCallback)
{
    for (const char* name : {"Worker", "", "N"})
    {
        const SThreadConfigEntry* config = ThreadFindConfig(name);
        EXPECT_EQ(config->m_Name, nullptr);
        EXPECT_EQ(config->m_Priority, E_THREAD_PRIORITY_NORMAL);
        EXPECT_EQ(config->m_Processor, -1);
        EXPECT_EQ(config->m_InitCallback, nullptr);
        EXPECT_EQ(config->m_InitCallbackArg, nullptr);
    }

    std::atomic<int> priority{-1};
    std::atomic<uint64_t> affinity{0};
    std::atomic<bool> had_callback{true};
    SThreadBody body{[&]
                     {
                         ThreadImpl* self = ThreadGetCurrent();
                         had_callback = self->m_InitCallback != nullptr;
                         priority = ThreadGetPriority(self);
                         affinity = ThreadGetAffinity(self, nullptr);
                     }};
    ThreadImpl* thread = CreateThreadRunning("Worker", &body);
    ThreadDestroy(thread);
    EXPECT_FALSE(had_callback);
    EXPECT_EQ(priority, E_THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(affinity, ThreadGetProcessAffinity()); // no processor binding
}

struct SInitRecord
{
    std::mutex m_Mutex;
    std::vector<std::string> m_Events;
    void* m_Arg = nullptr;
    bool m_HandleInPlace = false;
    std::string m_NameSeen;
};
static SInitRecord s_Init;

static void RecordInit(void* arg)
{
    std::lock_guard<std::mutex> hold(s_Init.m_Mutex);
    s_Init.m_Events.push_back("init");
    s_Init.m_Arg = arg;
    ThreadImpl* self = ThreadGetCurrent();
    // The creator has stored the handle and the name before any of the thread's own code.
    s_Init.m_HandleInPlace =
        self != nullptr && self->m_Thread != nullptr && ThreadGetId(self) == ThreadGetCurrentId();
    s_Init.m_NameSeen = ThreadGetCurrentName();
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
    EXPECT_EQ(ThreadFindConfig("n"), &table[1]);
    EXPECT_EQ(ThreadFindConfig("NN"), &table[1]);

    std::atomic<int> priority{-1};
    std::atomic<uint64_t> affinity{0};
    SThreadBody body{[&]
                     {
                         {
                             std::lock_guard<std::mutex> hold(s_Init.m_Mutex);
                             s_Init.m_Events.push_back("entry");
                         }
                         priority = ThreadGetPriority(ThreadGetCurrent());
                         affinity = ThreadGetAffinity(ThreadGetCurrent(), nullptr);
                     }};
    ThreadImpl* thread = CreateThreadRunning("N", &body);
    ThreadDestroy(thread);
    EXPECT_EQ(s_Init.m_Events, (std::vector<std::string>{"init", "entry"}));
    EXPECT_EQ(s_Init.m_Arg, &argument);
    EXPECT_TRUE(s_Init.m_HandleInPlace);
    EXPECT_EQ(s_Init.m_NameSeen, "N");
    // Raising a priority may need a privilege that the process lacks (POSIX); then the
    // thread keeps normal priority and reports it.
    EXPECT_EQ(priority,
              OsMayRaiseThreadPriority() ? E_THREAD_PRIORITY_HIGH : E_THREAD_PRIORITY_NORMAL);
    // The record's processor binds nothing (ThreadSetProcessor has no effect).
    EXPECT_EQ(affinity, ThreadGetProcessAffinity());

    // Another letter case is another name: the last record's settings.
    s_Init.m_Events.clear();
    ThreadImpl* other = CreateThreadRunning("n", &body);
    EXPECT_EQ(other->m_InitCallback, nullptr);
    ThreadDestroy(other);
    EXPECT_EQ(s_Init.m_Events, (std::vector<std::string>{"entry"}));
    EXPECT_EQ(priority, E_THREAD_PRIORITY_NORMAL);

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

    // The stack that a created thread gets holds at least the rounded request; the last
    // request is above the default stack size of either OS.
    for (uint32_t requested : {0u, 1u, 4096u, 4097u, 65536u, 16u * 1024 * 1024 + 1})
    {
        std::atomic<uint32_t> size{0};
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

    std::string seen;
    std::string os_seen;
    SThreadBody body{[&]
                     {
                         seen = ThreadGetCurrentName();
                         os_seen = OsCurrentThreadName();
                     }};
    ThreadImpl* thread = CreateThreadRunning(full.c_str(), &body);
    EXPECT_EQ(std::string(ThreadGetName(thread)), stored);
    ThreadDestroy(thread);
    EXPECT_EQ(seen, stored);
    // Systems without thread descriptions (before Windows 10) keep no name to compare.
    if (!os_seen.empty() || OsThreadNameLimit() != static_cast<size_t>(-1))
    {
        EXPECT_EQ(os_seen, os_kept);
    }

    // An adopted thread: the same cut, and the OS name follows.
    std::thread adopted(
        [&]
        {
            EXPECT_STREQ(ThreadGetCurrentName(), THREAD_UNKNOWN_NAME);
            EXPECT_EQ(ThreadGetCurrent(), nullptr);
            ThreadImpl* self = ThreadAttachCurrent(full.c_str());
            ASSERT_NE(self, nullptr);
            EXPECT_EQ(std::string(ThreadGetCurrentName()), stored);
            std::string os_name = OsCurrentThreadName();
            if (!os_name.empty() || OsThreadNameLimit() != static_cast<size_t>(-1))
            {
                EXPECT_EQ(os_name, os_kept);
            }
            ThreadDetachCurrent();
            EXPECT_STREQ(ThreadGetCurrentName(), THREAD_UNKNOWN_NAME);
        });
    adopted.join();
}

TEST(ThreadName, AnnouncementReachesTheOsForAnotherThreadAndExecutionGoesOn)
{
    SGate gate;
    SThreadBody body{[&] { gate.Wait(); }};
    ThreadImpl* thread = CreateThreadRunning("Quiet", &body);
    // Raised without a debugger attached: the process must go on afterwards.
    const std::string name = "Announced thread with a long name";
    const std::string announced = OsAnnouncedName(ThreadGetId(thread), name.c_str());
    EXPECT_EQ(announced, name.substr(0, std::min(name.size(), OsThreadNameLimit())));
    EXPECT_STREQ(ThreadGetName(thread), "Quiet"); // announcing does not rename the object
    gate.Open();
    ThreadDestroy(thread);
}

TEST(ThreadAdoption, SecondAttachAssertsAndKeepsTheFirstObject)
{
    CAssertRecorder recorder;
    std::thread foreign(
        [&]
        {
            ThreadDetachCurrent(); // no object: nothing happens
            EXPECT_EQ(recorder.Count(), 0u);

            ThreadImpl* first = ThreadAttachCurrent("First");
            ASSERT_NE(first, nullptr);
            EXPECT_EQ(first->m_Entry, nullptr);
            EXPECT_EQ(ThreadGetId(first), ThreadGetCurrentId());

            EXPECT_EQ(ThreadAttachCurrent("Second"), nullptr);
            ASSERT_EQ(recorder.Count(), 1u);
            EXPECT_EQ(recorder.Records()[0].m_Expression, "thread == NULL");
            EXPECT_EQ(ThreadGetCurrent(), first);
            EXPECT_STREQ(ThreadGetCurrentName(), "First");

            ThreadDetachCurrent();
            EXPECT_EQ(ThreadGetCurrent(), nullptr);
            ThreadDetachCurrent();
            EXPECT_EQ(recorder.Count(), 1u);
        });
    foreign.join();
}

TEST(ThreadAdoption, DetachingACreatedThreadAssertsAndKeepsItsObject)
{
    CAssertRecorder recorder;
    std::atomic<bool> cleared{false};
    SThreadBody body{[&]
                     {
                         ThreadDetachCurrent();
                         cleared = ThreadGetCurrent() == nullptr;
                     }};
    ThreadImpl* thread = CreateThreadRunning("Created", &body);
    uint32_t exit_code = 1;
    ASSERT_TRUE(OsTakeThreadExitCode(thread, &exit_code));
    EXPECT_TRUE(cleared);
    EXPECT_TRUE(recorder.Saw("thread_impl->m_Entry == NULL"));
    // The object survived: it is still readable, and ThreadDestroy frees it once.
    EXPECT_STREQ(ThreadGetName(thread), "Created");
    ThreadDestroy(thread);
}

static void* s_EntryResult;
static void ReturnsNothingUseful(void* arg)
{
    s_EntryResult = arg; // a result of sorts, which the start routine must not pass on
}

TEST(ThreadCreate, ExitCodeIsZeroWhateverTheEntryDid)
{
    ThreadImpl* thread =
        ThreadCreate("Exit", &ReturnsNothingUseful, reinterpret_cast<void*>(0x1234), 0);
    uint32_t exit_code = 1;
    ASSERT_TRUE(OsTakeThreadExitCode(thread, &exit_code));
    EXPECT_EQ(exit_code, 0u);
    EXPECT_EQ(s_EntryResult, reinterpret_cast<void*>(0x1234));
    ThreadDestroy(thread);
}

TEST(ThreadPriority, SetReadsBackAndOutOfRangeValuesAssert)
{
    CAssertRecorder recorder;
    SGate gate;
    SThreadBody body{[&] { gate.Wait(); }};
    ThreadImpl* thread = CreateThreadRunning("Priority", &body);

    ThreadSetPriority(thread, E_THREAD_PRIORITY_LOW);
    EXPECT_EQ(ThreadGetPriority(thread), E_THREAD_PRIORITY_LOW);
    if (OsMayRaiseThreadPriority())
    {
        ThreadSetPriority(thread, E_THREAD_PRIORITY_HIGH);
        EXPECT_EQ(ThreadGetPriority(thread), E_THREAD_PRIORITY_HIGH);
        ThreadSetPriority(thread, E_THREAD_PRIORITY_NORMAL);
        EXPECT_EQ(ThreadGetPriority(thread), E_THREAD_PRIORITY_NORMAL);
    }
    else
    {
        // Refused without privilege, and the reading tells the truth.
        ThreadSetPriority(thread, E_THREAD_PRIORITY_HIGH);
        EXPECT_EQ(ThreadGetPriority(thread), E_THREAD_PRIORITY_LOW);
    }
    EThreadPriority before = ThreadGetPriority(thread);
    EXPECT_EQ(recorder.Count(), 0u);

    ThreadSetPriority(thread, static_cast<EThreadPriority>(7));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression, s_NotHappen);
    EXPECT_EQ(ThreadGetPriority(thread), before);

    OsSetPriorityOutsideRange(thread);
    EXPECT_EQ(ThreadGetPriority(thread), E_THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(recorder.Count(), 2u);
    EXPECT_EQ(recorder.Records()[1].m_Expression, s_NotHappen);

    gate.Open();
    ThreadDestroy(thread);
}

TEST(ThreadAdoption, AnAdoptedObjectStandsForItsThreadWhenUsedFromAnother)
{
    ThreadImpl* self = ThreadAttachCurrent("Main");
    ASSERT_NE(self, nullptr);
    const uint64_t process = ThreadGetProcessAffinity();
    const uint64_t lowest = process & (~process + 1);

    SGate adopted;
    SGate done;
    std::atomic<ThreadImpl*> object{nullptr};
    std::atomic<int> own_priority{-1};
    std::atomic<uint64_t> own_affinity{0};
    std::thread worker(
        [&]
        {
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
    EXPECT_EQ(ThreadGetId(object), ThreadGetId(object.load())); // stable
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
