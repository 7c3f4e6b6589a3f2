// The log's set-up and tear-down: where its memory comes from and goes back to, the write
// path's freedom from allocation, the plain path afterwards, the assertion handler it
// installs, and what misuse and a failing allocator do.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/debug/assert.h"
#include "log_test_support.h"
#include "test_support.h"

static SLogInitParams CountingParams(SCountingAllocator& counting, SLogOutput* output0)
{
    SLogInitParams params;
    params.m_Allocator = counting.Get();
    params.m_Outputs[0] = output0;
    return params;
}

TEST(LogLifecycle, ShutdownGivesBackEveryBlockAndLaterWritesArePlain)
{
    LogWrite(E_LOG_WARNING, "X", "f", 1, "first"); // the one notice comes with this

    SCountingAllocator counting;
    SLogOutput noStream = LogTestOutput(nullptr, E_LOG_VERBOSE);
    LogInit(CountingParams(counting, &noStream));
    ASSERT_TRUE(LogInitialized());
    EXPECT_EQ(g_LogAllocator, counting.Get());
    EXPECT_EQ(counting.m_Allocations.load(), 1); // the context
    EXPECT_EQ(counting.m_LastSize.load(), sizeof(SLogContext));
    EXPECT_EQ(counting.m_LastAlignment.load(), 8u);
    // An output record without a stream: standard output kept, but off.
    EXPECT_EQ(g_LogContext->m_Outputs[0].m_Stream, stdout);
    EXPECT_EQ(g_LogContext->m_Outputs[0].m_Severity, E_LOG_NONE);
    EXPECT_EQ(g_LogContext->m_Outputs[1].m_Severity, E_LOG_NONE);
    for (const char* channel : {"A", "B", "C", "D", "E", "F"})
        LogSetChannelSeverity(channel, E_LOG_INFO);

    LogShutdown();
    EXPECT_FALSE(LogInitialized());
    EXPECT_EQ(g_LogAllocator, nullptr);
    EXPECT_EQ(counting.Live(), 0);
    testing::internal::CaptureStderr();
    LogWrite(E_LOG_WARNING, "X", "f", 2, "second");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "second\n"); // no second notice
}

TEST(LogLifecycle, TheWritePathNeverAllocates)
{
    SCountingAllocator counting;
    CLogFile file;
    SLogOutput output = LogTestOutput(file.Get(), E_LOG_INFO, true, true);
    LogInit(CountingParams(counting, &output));
    LogSetChannelSeverity("NET", E_LOG_VERBOSE);
    LogSetChannelSeverity("UI", E_LOG_ERROR);
    LogSetFilters("src", E_LOG_FILTER_INCLUDE, "N", E_LOG_FILTER_INCLUDE);
    LogSetCallback([](ELogSeverity, const char*, const char*, const char*, bool, uint32_t, uint32_t,
                      int64_t, void*) { return true; },
                   nullptr);
    int allocations = counting.m_Allocations;
    const char* channels[] = {"NET", "UI", "OTHER", "A_CHANNEL_LONGER_THAN_15"};
    for (int i = 0; i < 2000; ++i)
    {
        CLogScope scope(E_LOG_INFO, "NET", "src/a.cpp", 1, "scope %d", i);
        LogWrite(static_cast<ELogSeverity>(1 + i % 5), channels[i % 4], "src/b.cpp", 2,
                 "message %d %s", i, "text");
        LogUnindent();
    }
    EXPECT_EQ(counting.m_Allocations.load(), allocations);
    // The scope lines, and the 15 of every 20 messages that their thresholds pass.
    std::string text = file.Read();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2000 + 1500);
    LogShutdown();
}

TEST(LogLifecycle, InstallsItsAssertHandlerOnlyWhenNoneIsInstalled)
{
    CLogFile file;
    SLogOutput output = LogTestOutput(file.Get(), E_LOG_ASSERT, true);
    SLogInitParams params;
    params.m_Outputs[0] = &output;
    {
        CAssertRecorder recorder;
        AssertHandlerFunc installed = AssertHandler;
        LogInit(params);
        EXPECT_EQ(AssertHandler, installed);
        LogShutdown();
    }
    ASSERT_EQ(AssertHandler, nullptr);
    LogInit(params);
    EXPECT_EQ(AssertHandler, &LogDefaultAssertHandler);
    EXPECT_TRUE(LogDefaultAssertHandler("src/x.cpp", 42, "pointer != 0"));
    EXPECT_EQ(file.Read(), "ASSERT:ASSERT:"
                           "           "
                           "src/x.cpp:42 pointer != 0 src/x.cpp(42)\n");
    LogShutdown();
    EXPECT_EQ(AssertHandler, &LogDefaultAssertHandler); // outlives the log
    AssertHandler = nullptr;
}

static SLogContext* s_ReplacedContext = nullptr; // keeps the abandoned context reachable

TEST(LogLifecycle, MisuseAssertsAndChangesNothing)
{
    CAssertRecorder asserts;
    LogShutdown();
    LogSetCallback(nullptr, nullptr);
    LogSetOutputHook(&LogDefaultOutputHook, nullptr);
    LogSetFilters("a", E_LOG_FILTER_INCLUDE, "b", E_LOG_FILTER_INCLUDE);
    LogSetChannelSeverity("A", E_LOG_INFO);
    LogRemoveChannelSeverity("A");
    ASSERT_EQ(asserts.Count(), 6u);
    for (const SAssertRecord& record : asserts.Records())
    {
        EXPECT_EQ(record.m_Expression, "context != 0 && \"LogInit has not been run!\"");
        EXPECT_EQ(record.m_File, "common/debug/log.cpp");
    }

    SLogInitParams params;
    params.m_Allocator = nullptr;
    LogInit(params);
    EXPECT_TRUE(asserts.Saw("m_Allocator != 0 && \"SLogInitParams is missing allocator!\""));
    EXPECT_EQ(g_LogAllocator, nullptr);
    SCountingAllocator counting;
    counting.m_FailAll = true;
    LogInit(CountingParams(counting, nullptr));
    EXPECT_FALSE(LogInitialized());

    counting.m_FailAll = false;
    LogInit(CountingParams(counting, nullptr));
    s_ReplacedContext = g_LogContext;
    LogInit(CountingParams(counting, nullptr)); // continuing replaces the context
    EXPECT_TRUE(asserts.Saw("!LogInitialized() && \"LogInit has already been run!\""));
    EXPECT_NE(g_LogContext, s_ReplacedContext);
    EXPECT_EQ(asserts.Count(), 8u);
    LogShutdown();
}

TEST(LogLifecycle, ChannelOperationsSurviveAFailingAllocator)
{
    SCountingAllocator counting;
    LogInit(CountingParams(counting, nullptr));
    const CLogChannelSeverityTable& table = g_LogContext->m_ChannelSeverities;
    // A first channel takes the temporary key, the entry's name and the array; a fifth
    // one the larger array. Fail each allocation in turn: the table stays as it was.
    for (const char* channel : {"C", "A", "E", "G", "B"})
    {
        uint32_t size = table.Size();
        for (int failing = 0; failing < (size == 0 || size == 4 ? 3 : 2); ++failing)
        {
            int live = counting.Live();
            counting.m_FailCountdown = failing;
            LogSetChannelSeverity(channel, E_LOG_INFO);
            EXPECT_EQ(table.Size(), size);
            EXPECT_EQ(counting.Live(), live);
        }
        LogSetChannelSeverity(channel, static_cast<ELogSeverity>(channel[0]));
        EXPECT_EQ(table.Size(), size + 1);
    }
    EXPECT_EQ(table.At(1).m_Channel.GetString(), std::string("B"));
    EXPECT_EQ(*table.Find(CLogString("G", false)), 'G');

    counting.m_FailCountdown = 0;
    LogRemoveChannelSeverity("B"); // no temporary key: the entry stays
    EXPECT_EQ(table.Size(), 5u);
    for (const char* channel : {"A", "B", "C", "E", "G"})
        LogRemoveChannelSeverity(channel);
    EXPECT_EQ(counting.Live(), 1); // the context alone: an empty table holds nothing
    LogShutdown();
}
