// The registries under concurrent use: one record per thread handed out in order, one
// index per distinct scope name, and records complete before the count shows them.
#include <string>
#include <thread>
#include <vector>

#include "profiler_fixture.h"

TEST_F(ProfilerTest, ThirtyTwoThreadsRegisterAtOnceAndThe33rdFails)
{
    SetUpReady(16, 2, 1000);
    SProfilerContext* context = Context();
    constexpr int kThreads = 33;
    std::vector<uint32_t> ids(kThreads, 0);
    std::vector<SProfilerThread*> records(kThreads, nullptr);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
    {
        threads.emplace_back([&, i] {
            const std::string name = "worker " + std::to_string(i);
            ready.fetch_add(1);
            while (!go.load())
                std::this_thread::yield();
            if (context->RegisterThread(name.c_str()) == 1)
            {
                ids[i] = context->GetThreadID();
                records[i] = context->GetThreadData(int32_t(ids[i]));
                EXPECT_STREQ(records[i]->m_Name, name.c_str());
            }
            else
            {
                ids[i] = context->PeekThreadID();
            }
        });
    }
    ASSERT_TRUE(WaitUntil([&] { return ready.load() == kThreads; }));
    go.store(true);
    for (std::thread& thread : threads)
        thread.join();

    std::vector<bool> seen(32, false);
    int failures = 0;
    for (int i = 0; i < kThreads; ++i)
    {
        if (ids[i] == PROFILER_INVALID_THREAD_ID)
        {
            ++failures;
            continue;
        }
        ASSERT_GE(ids[i], 1000u);
        ASSERT_LT(ids[i], 1032u);
        EXPECT_FALSE(seen[ids[i] - 1000]) << "id handed out twice: " << ids[i];
        seen[ids[i] - 1000] = true;
        EXPECT_EQ(records[i], &context->m_Threads[ids[i] - 1000]);
        EXPECT_NE(records[i]->m_ScopeEntries, nullptr);
        EXPECT_NE(records[i]->m_ThreadEntries, nullptr);
    }
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(NumThreads(), 32);
    EXPECT_EQ(m_Allocator.Live(), 64);
}

TEST_F(ProfilerTest, OverlappingScopeNamesGetOneIndexEach)
{
    SetUpReady(64);
    SProfilerContext* context = Context();
    constexpr int kThreads = 6, kNames = 20, kSitesPerName = 3;
    std::vector<std::string> names;
    for (int n = 0; n < kNames; ++n)
        names.push_back("scope " + std::to_string(n));
    // Each thread has its own call sites (slots) for every name, several per name.
    std::vector<std::vector<int32_t>> slots(kThreads,
                                            std::vector<int32_t>(kNames * kSitesPerName, -1));
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int k = 0; k < kNames * kSitesPerName; ++k)
            {
                const int site = (k * 7 + t * 13) % (kNames * kSitesPerName);
                const std::string& name = names[size_t(site % kNames)];
                EXPECT_GE(context->RegisterScope(&slots[t][site], name.c_str(), 1.0f), 0);
            }
        });
    }
    go.store(true);
    for (std::thread& thread : threads)
        thread.join();

    ASSERT_EQ(context->m_NumScopes, kNames);
    std::vector<int> owner(kNames, -1); // descriptor index -> name
    for (int n = 0; n < kNames; ++n)
    {
        const int32_t index = slots[0][n];
        ASSERT_GE(index, 0);
        ASSERT_LT(index, kNames);
        EXPECT_EQ(owner[index], -1) << "two names share index " << index;
        owner[index] = n;
        EXPECT_STREQ(m_Scopes[index].m_Name, names[n].c_str());
    }
    for (int t = 0; t < kThreads; ++t)
        for (int site = 0; site < kNames * kSitesPerName; ++site)
            EXPECT_EQ(slots[t][site], slots[0][site % kNames]) << "thread " << t;
}

TEST_F(ProfilerTest, ReaderThatSeesTheCountSeesCompleteRecords)
{
    SetUpReady(8, 8, 1);
    SProfilerContext* context = Context();
    std::atomic<bool> done{false};
    std::atomic<int> incomplete{0};
    std::atomic<int> highestSeen{0};
    std::thread reader([&] {
        while (!done.load())
        {
            const int32_t count = NumThreads();
            for (int32_t i = 0; i < count; ++i)
            {
                const SProfilerThread& record = context->m_Threads[i];
                if (record.m_ScopeEntries == nullptr || record.m_ThreadEntries == nullptr ||
                    record.m_Name[0] != 'w')
                    incomplete.fetch_add(1);
            }
            if (count > highestSeen.load())
                highestSeen.store(count);
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&] {
            for (int i = 0; i < 8; ++i)
                context->CreateThreadData("writer");
        });
    for (std::thread& writer : writers)
        writer.join();
    ASSERT_TRUE(WaitUntil([&] { return highestSeen.load() == 32; }));
    done.store(true);
    reader.join();
    EXPECT_EQ(incomplete.load(), 0);
}
