// Stress, bounded: concurrent writers on one stream while another thread changes channel
// thresholds (entries that let the lines through, and others that grow and shrink the
// table): every line arrives whole, exactly once and in its writer's order, and the callback
// sees every message once. Filters, callback and hook are set-up operations that no write
// may overlap, so they are not raced.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "log_test_support.h"

using LogConcurrency = LogTest;

TEST_F(LogConcurrency, LinesOfConcurrentWritersNeverInterleave)
{
    const int writers = 4, linesPerWriter = 2500;
    g_LogContext->m_Outputs[1] = {m_File.m_File, E_LOG_WARNING, true, false};
    std::atomic<int> ready{0}, finished{0}, changes{0};
    std::atomic<bool> stop{false};
    static std::atomic<int> s_Calls;
    s_Calls = 0;
    LogSetCallback([](ELogSeverity, const char*, const char*, const char*, bool, uint32_t, uint32_t,
                      int64_t, void*) { return ++s_Calls, true; },
                   nullptr);
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
    // Moves writer 0's threshold through values that all let warnings pass, and none;
    // creates and drops other entries so the table grows and shrinks under the lookups.
    threads.emplace_back([&] {
        const ELogSeverity open[] = {E_LOG_WARNING, E_LOG_INFO, E_LOG_VERBOSE};
        for (int round = 0; !stop.load(); ++round, changes += 4)
        {
            LogSetChannelSeverity("W0", open[round % 3]);
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
        // Each writer's lines keep their order, none lost and none twice.
        ASSERT_EQ(index, next[writer]) << line;
        next[writer] = index + 1;
    }
    for (int writer = 0; writer < writers; ++writer)
        EXPECT_EQ(next[writer], linesPerWriter);
    EXPECT_EQ(s_Calls.load(), writers * linesPerWriter);
    std::printf("[ stress ] %d lines from %d writers, whole and once, during %d channel changes\n",
                writers * linesPerWriter, writers, changes.load());
}
