// Concurrent writers on one stream while another thread changes channel entries: every
// line arrives whole and in each writer's own order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "test_support.h"

TEST(LogConcurrency, LinesOfConcurrentWritersNeverInterleave)
{
    const int writers = 4;
    const int linesPerWriter = 1000;
    SCountingAllocator counting;
    CLogFile file;
    SLogOutput output = LogTestOutput(file.Get(), E_LOG_WARNING, true);
    SLogInitParams params;
    params.m_Allocator = counting.Get();
    params.m_Outputs[0] = &output;
    LogInit(params);

    std::atomic<int> ready{0}, finished{0};
    std::atomic<bool> stop{false};
    const std::string padding(150, '.'); // long lines make a torn write likely to show
    std::vector<std::thread> threads;
    for (int writer = 0; writer < writers; ++writer)
        threads.emplace_back([&, writer] {
            char channel[8];
            std::snprintf(channel, sizeof(channel), "W%d", writer);
            // Start together (spinning, with a deadline) so that the writes overlap.
            ready.fetch_add(1);
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (ready.load() < writers && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            for (int i = 0; i < linesPerWriter; ++i)
                LogWrite(E_LOG_WARNING, channel, "src/w.cpp", 7, "%d %d %s", writer, i,
                         padding.c_str());
            finished.fetch_add(1);
        });
    // Toggles writer 0's entry between "held back" and none; creates and drops others.
    threads.emplace_back([&] {
        for (int round = 0; !stop.load(); ++round)
        {
            LogSetChannelSeverity("W0", E_LOG_ERROR);
            LogSetChannelSeverity(round % 2 ? "Z1" : "Z2", E_LOG_INFO);
            LogRemoveChannelSeverity("W0");
            LogRemoveChannelSeverity(round % 2 ? "Z2" : "Z1");
        }
    });
    bool done = WaitUntil([&] { return finished.load() == writers; });
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(done);

    std::istringstream lines(file.Read());
    std::string line;
    int next[writers] = {};
    while (std::getline(lines, line))
    {
        int writer = -1, index = -1;
        ASSERT_GT(line.size(), 25u) << line;
        ASSERT_EQ(std::sscanf(line.c_str() + 25, "%d %d", &writer, &index), 2) << line;
        ASSERT_TRUE(writer >= 0 && writer < writers) << line;
        std::string expected = LogTestHead("WARNING:W" + std::to_string(writer) + ":") +
                               std::to_string(writer) + " " + std::to_string(index) + " " +
                               padding + " src/w.cpp(7)";
        ASSERT_EQ(line, expected);
        // Each writer's lines keep their order; only writer 0 may lose lines to its entry.
        if (writer == 0)
            ASSERT_GE(index, next[writer]) << line;
        else
            ASSERT_EQ(index, next[writer]) << line;
        next[writer] = index + 1;
    }
    for (int writer = 1; writer < writers; ++writer)
        EXPECT_EQ(next[writer], linesPerWriter);
    LogShutdown();
    EXPECT_EQ(counting.Live(), 0);
}
