// The registries under concurrent use: one record per thread handed out in order, one
// index per distinct scope name, and records complete before the count shows them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/hash/hash.h"
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

// Stress, bounded: 33 threads register at once while others register overlapping scope
// names from call sites of their own, each with its own copy of the texts, and a reader
// walks the descriptors without the lock. One id per thread, one index per name, and every
// descriptor the reader sees names a text whose hash it holds.
TEST_F(ProfilerTest, ThirtyTwoThreadsAndOverlappingScopesRegisterAtOnceUnderALockFreeReader)
{
    SetUpReady(16, 2, 1000);
    SProfilerContext* context = Context();
    constexpr int kThreads = 33, kScopeThreads = 4, kNames = 12, kRounds = 200;
    std::vector<uint32_t> ids(kThreads, 0);
    std::vector<std::vector<std::string>> texts(kScopeThreads);
    std::vector<std::vector<int32_t>> slots(kScopeThreads, std::vector<int32_t>(kNames, -1));
    for (auto& own : texts)
        for (int n = 0; n < kNames; ++n)
            own.push_back("scope " + std::to_string(n));
    std::atomic<bool> done{false};
    std::atomic<long> walks{0}, wrong{0};
    std::thread reader([&] {
        for (; !done.load(); ++walks)
            for (int32_t i = 0, count = std::atomic_ref<int32_t>(context->m_NumScopes).load();
                 i < count; ++i)
            {
                const char* name = std::atomic_ref<const char*>(m_Scopes[i].m_Name).load();
                wrong += name == nullptr || HashString(name) != m_Scopes[i].m_NameHash;
            }
    });
    RunTogether(kThreads + kScopeThreads, [&](int i) {
        if (i >= kThreads) // a new call site per name and round: the newest text wins
            for (int round = 0, t = i - kThreads; round < kRounds; ++round)
                for (int k = 0; k < kNames; ++k)
                {
                    const int n = (k * 7 + t * 5) % kNames;
                    slots[t][n] = -1;
                    EXPECT_GE(context->RegisterScope(&slots[t][n], texts[t][n].c_str(), 1.0f), 0);
                }
        else if (context->RegisterThread(("worker " + std::to_string(i)).c_str()) == 1)
        {
            const int32_t id = static_cast<int32_t>(context->GetThreadID());
            EXPECT_EQ(context->GetThreadData(id)->m_Name, "worker " + std::to_string(i));
        }
        if (i < kThreads)
            ids[i] = context->PeekThreadID();
    });
    done.store(true);
    reader.join();

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
    ASSERT_EQ(context->m_NumScopes, kNames);
    for (int t = 0; t < kScopeThreads; ++t)
        for (int n = 0; n < kNames; ++n)
            EXPECT_EQ(slots[t][n], slots[0][n]) << "thread " << t;
    for (int n = 0; n < kNames; ++n)
        EXPECT_EQ(std::string(m_Scopes[slots[0][n]].m_Name), texts[0][n]); // one name an index
    EXPECT_EQ(wrong.load(), 0);
    std::printf("[ stress ] 32 threads registered, %d scope registrations, %ld reader walks\n",
                kScopeThreads * kRounds * kNames, walks.load());
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
