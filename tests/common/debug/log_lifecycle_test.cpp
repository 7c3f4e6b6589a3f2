// The log's set-up and tear-down: from a static constructor, its memory given back, the
// write path's freedom from allocation, the plain path afterwards, LogInit refused or
// failing, and the assertion handler it installs.
#include <algorithm>
#include <functional>

#include "common/debug/assert.h"
#include "log_test_support.h"

// Output 0 as a client's static constructor gets it. Test objects are linked before the
// platform library, so this runs before any of the library's own initialisers, as a
// client's constructor usually does.
static SLogOutput s_StaticConstructorOutput;
static const bool s_StaticConstructorRan = [] {
    AssertHandlerFunc handler = AssertHandler;
    LogInit(SLogInitParams());
    s_StaticConstructorOutput = g_LogContext->m_Outputs[0];
    LogShutdown();
    AssertHandler = handler;
    return true;
}();

TEST(LogStartup, AStaticConstructorGetsStandardOutputForWarnings)
{
    ASSERT_TRUE(s_StaticConstructorRan);
    EXPECT_EQ(s_StaticConstructorOutput.m_Stream, stdout);
    EXPECT_EQ(s_StaticConstructorOutput.m_Severity, E_LOG_WARNING);
}

// Without LogInit: a one-time notice, then each message alone on its line on stderr.
TEST(LogUninitialized, NoticeOnceThenEachMessageOnItsOwnLine)
{
    testing::internal::CaptureStderr();
    LogWrite(E_LOG_WARNING, "PROFILE", "file.cpp", 10, "first %d", 1);
    LogWrite(E_LOG_NONE, "ANY", "file.cpp", 11, "second %s", "message");
    LogWrite(E_LOG_VERBOSE, "ANY", "file.cpp", 12, "third");
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output, "Trying to write to an uninitialized log. Use LogInit() to get rid of "
                      "this message.\n"
                      "first 1\n"
                      "second message\n"
                      "third\n");
}

using LogLifecycle = LogTest;

TEST_F(LogLifecycle, ShutdownGivesBackEveryBlockThenWritesArePlain)
{
    LogShutdown();
    LogWrite(E_LOG_WARNING, "X", "f", 1, "first"); // the one notice comes with this
    SetUp();
    for (const char* channel : {"A", "B", "C", "D", "E", "F"})
        LogSetChannelSeverity(channel, E_LOG_INFO);
    EXPECT_GT(m_Counting.Live(), 7); // the context, six names and the array at least
    LogShutdown();                   // the fixture then finds every block given back
    testing::internal::CaptureStderr();
    LogWrite(E_LOG_WARNING, "X", "f", 2, "second");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "second\n"); // no second notice

    // Without an allocator LogInit is refused with an assertion; an allocator failing the
    // context leaves the log uninitialised.
    CAssertRecorder asserts;
    SLogInitParams params;
    params.m_Allocator = nullptr;
    LogInit(params);
    EXPECT_TRUE(asserts.Saw("SLogInitParams is missing allocator"));
    m_Counting.m_FailAll = true;
    params.m_Allocator = m_Counting.Get();
    LogInit(params);
    EXPECT_FALSE(LogInitialized());
}

TEST_F(LogLifecycle, TheWritePathNeverAllocates)
{
    g_LogContext->m_Outputs[1] = {m_File.m_File, E_LOG_INFO, true, true};
    LogSetChannelSeverity("NET", E_LOG_VERBOSE);
    LogSetChannelSeverity("UI", E_LOG_ERROR);
    LogSetFilters("src", E_LOG_FILTER_INCLUDE, "N", E_LOG_FILTER_INCLUDE);
    const int allocations = m_Counting.m_Allocations;
    const char* channels[] = {"NET", "UI", "OTHER", "A_CHANNEL_LONGER_THAN_15"};
    for (int i = 0; i < 2000; ++i)
    {
        CLogScope scope(E_LOG_INFO, "NET", "src/a.cpp", 1, "scope %d", i);
        LogWrite(static_cast<ELogSeverity>(1 + i % 5), channels[i % 4], "src/b.cpp", 2,
                 "message %d %s", i, "text");
        LogUnindent();
    }
    EXPECT_EQ(m_Counting.m_Allocations.load(), allocations);
    // The scope lines, and the 15 of every 20 messages that their thresholds pass.
    const std::string text = m_File.Take();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2000 + 1500);
}

TEST_F(LogLifecycle, InstallsItsAssertHandlerOnlyWhenNoneIsInstalled)
{
    EXPECT_EQ(AssertHandler, &LogDefaultAssertHandler); // none was installed before SetUp
    EXPECT_TRUE(LogDefaultAssertHandler("src/x.cpp", 42, "pointer != 0"));
    EXPECT_EQ(m_File.Take(), "ASSERT:ASSERT:           src/x.cpp:42 pointer != 0\n");
    LogShutdown();
    CAssertRecorder recorder;
    AssertHandlerFunc installed = AssertHandler;
    SetUp();
    EXPECT_EQ(AssertHandler, installed);
}

// A shutdown from the log's own output path would free the mutex that the writer holds and
// unlocks on its way out: it is refused, and the log goes on as it was.
TEST_F(LogLifecycle, ShutdownFromTheCallbackOrTheHookIsRefused)
{
    const std::function<void()> installs[] = {
        [] {
            LogSetCallback(
                [](ELogSeverity, const char*, const char*, const char*, bool, uint32_t, uint32_t,
                   int64_t, void*) {
                    LogShutdown();
                    return false;
                },
                nullptr);
        },
        [] {
            LogSetCallback(nullptr, nullptr);
            LogSetOutputHook(
                [](LogOutputFunc output, SLogMessage* message, void*) {
                    output(message);
                    LogShutdown();
                },
                nullptr);
        }};
    for (const std::function<void()>& install : installs)
    {
        CAssertRecorder asserts;
        install();
        LogWrite(E_LOG_ERROR, "C", "f", 1, "written");
        ASSERT_TRUE(LogInitialized());
        ASSERT_EQ(asserts.Count(), 1u);
        EXPECT_EQ(asserts.Records()[0].m_Expression,
                  "!writing && \"LogShutdown from inside the log's output path!\"");
        LogWrite(E_LOG_ERROR, "C", "f", 2, "still written");
        EXPECT_EQ(m_File.Take(), LogTestHead("ERROR:C:") + "written\n" + LogTestHead("ERROR:C:") +
                                     "still written\n");
    }
}

// Misuse is reported and changes nothing: settings and a shutdown without a log, and a
// second LogInit (which, continued past, replaces the context and leaks the first).
TEST_F(LogLifecycle, MisuseIsReportedAndChangesNothing)
{
    CAssertRecorder asserts;
    SLogContext* first = g_LogContext;
    SLogInitParams params;
    params.m_Allocator = m_Counting.Get();
    LogInit(params);
    EXPECT_TRUE(asserts.Saw("!LogInitialized() && \"LogInit has already been run!\""));
    EXPECT_NE(g_LogContext, first);
    LogShutdown();
    EXPECT_EQ(asserts.Count(), 1u);
    LogShutdown(); // a second shutdown
    LogSetChannelSeverity("C", E_LOG_INFO);
    LogSetFilters("f", E_LOG_FILTER_INCLUDE, nullptr, E_LOG_FILTER_INCLUDE);
    LogSetCallback(nullptr, nullptr);
    ASSERT_EQ(asserts.Count(), 5u);
    for (size_t i = 1; i < 5; ++i)
        EXPECT_EQ(asserts.Records()[i].m_Expression,
                  "context != 0 && \"LogInit has not been run!\"");
    g_LogContext = first; // the fixture shuts the first context down
    g_LogAllocator = m_Counting.Get();
    LogWrite(E_LOG_INFO, "C", "f", 1, "unchanged");
    EXPECT_EQ(m_File.Take(), LogTestHead("INFO:C:") + "unchanged\n");
}
