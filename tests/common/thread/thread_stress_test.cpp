// Stress test, portable: many thread lifetimes in a row: created threads from two creators at once,
// and foreign threads that adopt and release objects. Each created thread checks that its handle
// and name were in place before its own code ran; the sanitizer build's leak checker checks that
// every object, handle and hand-over record went away.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "thread_test_helpers.h"

static std::atomic<int> s_InitsInPlace{0};
static std::atomic<int> s_EntriesInPlace{0};

// The calling thread's object, handle and name (or, for a prefix, its name's start).
static bool InPlace(const std::string& name, bool prefix = false)
{
    ThreadImpl* self = ThreadGetCurrent();
    std::string current = ThreadGetCurrentName();
    return self != nullptr && self->m_Thread != nullptr &&
           ThreadGetId(self) == ThreadGetCurrentId() &&
           (prefix ? current.rfind(name, 0) == 0 : current == name);
}

TEST(ThreadStress, HundredsOfCreatedAndAdoptedThreadsComeAndGo)
{
    static const SThreadConfigEntry table[] = {
        {nullptr, E_THREAD_PRIORITY_NORMAL, -1, nullptr,
         [](void*) { s_InitsInPlace += InPlace("Stress", true); }},
    };
    SThreadConfigTable holder;
    holder.m_Entries = table;
    ThreadSetConfigTable(holder);
    s_InitsInPlace = 0;
    s_EntriesInPlace = 0;
    const int per_creator = 150;
    auto create = [&](int creator) {
        for (int index = 0; index < per_creator; ++index)
        {
            std::string name = "Stress" + std::to_string(creator) + "-" + std::to_string(index);
            ThreadDestroy(ThreadCreate(
                name.c_str(),
                [](void* arg) { s_EntriesInPlace += InPlace(*static_cast<std::string*>(arg)); },
                &name, 0));
        }
    };
    std::thread second(create, 1);
    create(0);
    second.join();
    ThreadSetConfigTable(SThreadConfigTable());
    EXPECT_EQ(s_InitsInPlace, 2 * per_creator);
    EXPECT_EQ(s_EntriesInPlace, 2 * per_creator);

    std::atomic<int> adopted{0};
    for (int round = 0; round < 50; ++round)
    {
        std::vector<std::thread> threads;
        for (int index = 0; index < 4; ++index)
            threads.emplace_back([&, index] {
                std::string name = "Foreign" + std::to_string(index);
                adopted += ThreadAttachCurrent(name.c_str()) != nullptr && InPlace(name);
                ThreadDetachCurrent();
                adopted -= ThreadGetCurrent() != nullptr;
            });
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(adopted, 200);
}
