// Many thread lifetimes in a row: created threads from two creators at once, and foreign
// threads that adopt and release objects. Each created thread checks that its handle and
// name were in place before its own code ran; the leak checker of the sanitizer build
// checks that every object, handle and hand-over record went away.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "thread_test_helpers.h"

static std::atomic<int> s_InitRuns{0};
static std::atomic<int> s_InitSawCreatorsWork{0};

static void CheckCreatorsWork(void* /*arg*/)
{
    ++s_InitRuns;
    ThreadImpl* self = ThreadGetCurrent();
    if (self != nullptr && self->m_Thread != nullptr && ThreadGetId(self) == ThreadGetCurrentId() &&
        std::strncmp(ThreadGetCurrentName(), "Stress", 6) == 0)
        ++s_InitSawCreatorsWork;
}

static std::atomic<int> s_EntryRuns{0};
static void CountEntry(void* arg)
{
    // The entry's argument names the thread, so each thread got its own object.
    if (std::string(ThreadGetCurrentName()) == *static_cast<std::string*>(arg))
        ++s_EntryRuns;
}

TEST(ThreadStress, CreateAndDestroyHundredsFromTwoCreators)
{
    const SThreadConfigEntry table[] = {
        {nullptr, E_THREAD_PRIORITY_NORMAL, -1, nullptr, &CheckCreatorsWork},
    };
    SThreadConfigTable holder;
    holder.m_Entries = table;
    ThreadSetConfigTable(holder);

    const int per_creator = 150;
    auto create = [&](int creator)
    {
        for (int index = 0; index < per_creator; ++index)
        {
            std::string name = "Stress" + std::to_string(creator) + "-" + std::to_string(index);
            ThreadImpl* thread = ThreadCreate(name.c_str(), &CountEntry, &name, 0);
            ThreadDestroy(thread);
        }
    };
    std::thread second(create, 1);
    create(0);
    second.join();
    ThreadSetConfigTable(SThreadConfigTable());

    EXPECT_EQ(s_InitRuns, 2 * per_creator);
    EXPECT_EQ(s_InitSawCreatorsWork, 2 * per_creator);
    EXPECT_EQ(s_EntryRuns, 2 * per_creator);
}

TEST(ThreadStress, ForeignThreadsAdoptAndReleaseObjects)
{
    std::atomic<int> adopted{0};
    for (int round = 0; round < 50; ++round)
    {
        std::vector<std::thread> threads;
        for (int index = 0; index < 4; ++index)
            threads.emplace_back(
                [&, index]
                {
                    std::string name = "Foreign" + std::to_string(index);
                    ThreadImpl* self = ThreadAttachCurrent(name.c_str());
                    if (self != nullptr && ThreadGetCurrent() == self &&
                        name == ThreadGetCurrentName())
                        ++adopted;
                    ThreadDetachCurrent();
                    if (ThreadGetCurrent() != nullptr)
                        --adopted;
                });
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(adopted, 200);
}
