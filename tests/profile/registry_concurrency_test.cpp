// The registries under concurrent use: one record per thread handed out in order, one
// index per distinct scope name, and records complete before the count shows them.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "profiler_fixture.h"

namespace
{

// Starts n threads that wait for one signal, so that their first calls overlap.
template <typename F> void RunTogether(int n, F body)
{
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            while (!go.load())
                std::this_thread::yield();
            body(i);
        });
    go.store(true);
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace

TEST_F(ProfilerTest, ThirtyTwoThreadsRegisterAtOnceAndThe33rdFails)
{
    SetUpReady(16, 2, 1000);
    SProfilerContext* context = Context();
    std::vector<uint32_t> ids(33, 0);
    RunTogether(33, [&](int i) {
        const std::string name = "worker " + std::to_string(i);
        if (context->RegisterThread(name.c_str()) == 1)
        {
            const int32_t id = static_cast<int32_t>(context->GetThreadID());
            EXPECT_STREQ(context->GetThreadData(id)->m_Name, name.c_str());
        }
        ids[i] = context->PeekThreadID();
    });

    std::vector<int> owners(32, 0);
    int failures = 0;
    for (uint32_t id : ids)
    {
        if (id == PROFILER_INVALID_THREAD_ID)
        {
            ++failures;
            continue;
        }
        ASSERT_TRUE(id >= 1000 && id < 1032) << id;
        ++owners[id - 1000];
        EXPECT_NE(context->m_Threads[id - 1000].m_ThreadEntries, nullptr);
    }
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(std::count(owners.begin(), owners.end(), 1), 32); // no id handed out twice
    EXPECT_EQ(NumThreads(), 32);
}

TEST_F(ProfilerTest, OverlappingScopeNamesGetOneIndexEach)
{
    SetUpReady(64);
    SProfilerContext* context = Context();
    constexpr int kThreads = 6, kNames = 20, kSites = 3 * kNames;
    std::vector<std::string> names;
    for (int n = 0; n < kNames; ++n)
        names.push_back("scope " + std::to_string(n));
    // Each thread has its own call sites (slots), three per name, visited in its own order.
    std::vector<std::vector<int32_t>> slots(kThreads, std::vector<int32_t>(kSites, -1));
    RunTogether(kThreads, [&](int t) {
        for (int k = 0; k < kSites; ++k)
        {
            const int site = (k * 7 + t * 13) % kSites;
            EXPECT_GE(context->RegisterScope(&slots[t][site], names[site % kNames].c_str(), 1.0f),
                      0);
        }
    });

    ASSERT_EQ(context->m_NumScopes, kNames);
    for (int n = 0; n < kNames; ++n)
    {
        const int32_t index = slots[0][n];
        ASSERT_TRUE(index >= 0 && index < kNames);
        EXPECT_STREQ(m_Scopes[index].m_Name, names[n].c_str()); // one name per index
    }
    for (int t = 0; t < kThreads; ++t)
        for (int site = 0; site < kSites; ++site)
            EXPECT_EQ(slots[t][site], slots[0][site % kNames]) << "thread " << t;
}

TEST_F(ProfilerTest, ReaderThatSeesTheCountSeesCompleteRecords)
{
    SetUpReady(8, 8, 1);
    SProfilerContext* context = Context();
    std::atomic<bool> done{false};
    std::atomic<int> incomplete{0}, highestSeen{0};
    std::thread reader([&] {
        while (!done.load())
        {
            const int32_t count = NumThreads();
            for (int32_t i = 0; i < count; ++i)
            {
                const SProfilerThread& record = context->m_Threads[i];
                if (!record.m_ScopeEntries || !record.m_ThreadEntries || record.m_Name[0] != 'w')
                    incomplete.fetch_add(1);
            }
            highestSeen.store(count);
        }
    });
    RunTogether(4, [&](int) {
        for (int i = 0; i < 8; ++i)
            context->CreateThreadData("writer");
    });
    ASSERT_TRUE(WaitUntil([&] { return highestSeen.load() == 32; }));
    done.store(true);
    reader.join();
    EXPECT_EQ(incomplete.load(), 0);
}

TEST_F(ProfilerTest, ANameReplacedWhileAnotherThreadReadsIt)
{
    SetUpReady();
    SProfilerContext* context = Context();
    const char first[] = "Shared", second[] = "Shared";
    std::atomic<bool> done{false};
    std::atomic<int> foreign{0};
    std::thread reader([&] {
        while (!done.load())
        {
            if (std::atomic_ref<int32_t>(context->m_NumScopes).load() == 0)
                continue;
            const char* name = std::atomic_ref<const char*>(m_Scopes[0].m_Name).load();
            if (name != first && name != second)
                foreign.fetch_add(1);
        }
    });
    for (int i = 0; i < 2000; ++i)
    {
        int32_t slot = -1; // a new call site each time: the newest text wins
        EXPECT_EQ(context->RegisterScope(&slot, i % 2 ? second : first, 1.0f), 0);
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(foreign.load(), 0);
    EXPECT_EQ(m_Scopes[0].m_Name, second);
}
