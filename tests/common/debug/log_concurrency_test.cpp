// Concurrent writers on one stream while another thread changes channel entries: every
// line arrives whole and in each writer's own order.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "log_test_support.h"

using LogConcurrency = LogTest;

TEST_F(LogConcurrency, LinesOfConcurrentWritersNeverInterleave)
{
    const int writers = 4, linesPerWriter = 1000;
    g_LogContext->m_Outputs[1] = {m_File.m_File, E_LOG_WARNING, true, false};
    std::atomic<int> ready{0}, finished{0};
    std::atomic<bool> stop{false};
    const std::string padding(150, '.'); // long lines make a torn write likely to show
    std::vector<std::thread> threads;
    for (int writer = 0; writer < writers; ++writer)
        threads.emplace_back([&, writer] {
            // Formatted, not concatenated: GCC 12 at -m32 -O3 warns falsely (-Wrestrict)
            // about the inlined concatenation of a literal and a temporary string.
            char channel[16];
            std::snprintf(channel, sizeof(channel), "W%d", writer);
            ready.fetch_add(1); // start together, so that the writes overlap
            WaitUntil([&] { return ready.load() == writers; });
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
    const bool done = WaitUntil([&] { return finished.load() == writers; });
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(done);

    std::istringstream lines(m_File.Take());
    std::string line;
    int next[writers] = {};
    while (std::getline(lines, line))
    {
        ASSERT_GT(line.size(), 27u) << line;
        // Only a whole line of a real writer matches, before the writer indexes next[].
        const int writer = line[9] - '0', index = std::atoi(line.c_str() + 27);
        ASSERT_EQ(line, LogTestHead("WARNING:W" + std::to_string(writer) + ":") +
                            std::to_string(writer) + " " + std::to_string(index) + " " + padding +
                            " src/w.cpp(7)");
        // Each writer's lines keep their order; only writer 0 may lose lines to its entry.
        ASSERT_TRUE(writer == 0 ? index >= next[writer] : index == next[writer]) << line;
        next[writer] = index + 1;
    }
    for (int writer = 1; writer < writers; ++writer)
        EXPECT_EQ(next[writer], linesPerWriter);
}
