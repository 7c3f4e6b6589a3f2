// The lines that an initialised log writes, compared whole and byte for byte: severity
// field and channel tag, indentation, time stamps, file and line, filters, channel
// thresholds, the callback, the output hook and the debugger copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "test_support.h"

namespace
{
struct SCall
{
    ELogSeverity m_Severity;
    std::string m_Channel, m_Text;
    bool m_Passed;
    uint32_t m_Line, m_Indentation;
    int64_t m_ElapsedMs;
    void* m_UserData;
};
std::vector<SCall> s_Calls;

bool RecordCall(ELogSeverity severity, const char* channel, const char* /*file*/, const char* text,
                bool passed, uint32_t line, uint32_t indentation, int64_t elapsedMs, void* userData)
{
    s_Calls.push_back({severity, channel, text, passed, line, indentation, elapsedMs, userData});
    return false;
}

// Output 0 on the stream for every severity; output 1 off; calls recorded.
void InitToFile(const CLogFile& file, bool fileAndLine = false, bool time = false)
{
    static SLogOutput output;
    output = LogTestOutput(file.Get(), E_LOG_VERBOSE, fileAndLine, time);
    SLogInitParams params;
    params.m_Outputs[0] = &output;
    LogInit(params);
    s_Calls.clear();
    LogSetCallback(&RecordCall, nullptr);
}
} // namespace

TEST(LogOutput, DefaultParametersWriteWarningsToStandardOutputAndTheDebugger)
{
    CLogTestSeams seams;
    LogInit(SLogInitParams());
    int userData = 0;
    LogSetCallback(&RecordCall, &userData);
    testing::internal::CaptureStdout();
    LogWrite(E_LOG_WARNING, "LOGGER", "src/a.cpp", 12, "hello %s %d", "world", 7);
    LogWrite(E_LOG_INFO, "LOGGER", "src/a.cpp", 13, "quiet %d", 8);
    // Word and tag (15 columns), 10 blanks, the text; the debugger gets the same bytes in
    // two pieces, formatted from the same arguments a second time.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING:LOGGER:"
                                                      "          "
                                                      "hello world 7\n");
    EXPECT_EQ(CLogTestSeams::s_DebugPieces,
              (std::vector<std::string>{"WARNING:LOGGER:          hello world 7", "\n"}));
    ASSERT_EQ(s_Calls.size(), 2u); // the info line reached no stream, but the callback
    EXPECT_EQ(s_Calls[1].m_Text, "quiet 8");
    EXPECT_TRUE(s_Calls[1].m_Passed);
    EXPECT_EQ(s_Calls[1].m_Line, 13u);
    EXPECT_EQ(s_Calls[1].m_UserData, &userData);
    LogShutdown();
}

TEST(LogOutput, LineLayoutForBothFlagsEveryIndentationAndTimeStamps)
{
    CLogTestSeams seams;
    CLogFile file;
    InitToFile(file, true, true);
    CLogTestSeams::SetElapsedMs(61005);
    LogIndent();
    LogWrite(E_LOG_WARNING, "LOGGER", "F.cpp", 180, "T");
    LogUnindent();
    // Word and tag, 10 blanks, 2 of indentation, " 61.005", ": ", text, file(line).
    std::string expected = "WARNING:LOGGER:"
                           "          "
                           "  "
                           " 61.005: T F.cpp(180)\n";
    for (int flags = 0; flags < 4; ++flags)
    {
        bool fileAndLine = (flags & 1) != 0, time = (flags & 2) != 0;
        g_LogContext->m_Outputs[0].m_PrintFileAndLine = fileAndLine;
        g_LogContext->m_Outputs[0].m_PrintTime = time;
        for (uint32_t level = 0; level <= 7; ++level, LogIndent())
        {
            LogWrite(E_LOG_ERROR, "IO", "src/io.cpp", 42, "level %u", level);
            expected += "ERROR:IO:" + std::string(16 + 2 * std::min(level, 5u), ' ') +
                        (time ? " 61.005: " : "") + "level " + std::to_string(level) +
                        (fileAndLine ? " src/io.cpp(42)\n" : "\n");
        }
        for (int level = 0; level <= 7; ++level)
            LogUnindent();
    }
    g_LogContext->m_Outputs[0].m_PrintFileAndLine = false;
    for (uint64_t ms : {999ull, 1234567ull})
    {
        CLogTestSeams::SetElapsedMs(ms);
        LogWrite(E_LOG_WARNING, "T", "f", 1, "at");
    }
    expected += "WARNING:T:                 0.999: at\n"
                "WARNING:T:               1234.567: at\n";
    EXPECT_EQ(file.Read(), expected);
    EXPECT_EQ(s_Calls.back().m_ElapsedMs, 1234567);
    EXPECT_TRUE(CLogTestSeams::s_DebugPieces.empty()); // copies are for standard output only
    LogShutdown();
}

TEST(LogOutput, SeverityWordsChannelTagsAndLongTexts)
{
    CAssertRecorder asserts;
    CLogFile file;
    InitToFile(file);
    for (int severity = E_LOG_ASSERT; severity <= E_LOG_VERBOSE; ++severity)
        LogWrite(static_cast<ELogSeverity>(severity), "A", "f", 1, "%d", severity);
    LogWrite(E_LOG_VERBOSE, "ABCDEFGHIJKLMNOPQRST", "f", 1, "20"); // the tag keeps 15
    LogWrite(E_LOG_ASSERT, "ABCDEFGHIJKLMNO", "f", 1, "15");
    std::string longText(2000, 'x');
    LogWrite(E_LOG_INFO, "A", "f", 1, "%s", longText.c_str());
    EXPECT_EQ(asserts.Count(), 0u);
    // Severities without a word: the field blank, the tag from column 0.
    LogSetChannelSeverity("Q", static_cast<ELogSeverity>(9)); // stored as it is
    LogWrite(static_cast<ELogSeverity>(9), "Q", "f", 1, "nine");
    EXPECT_TRUE(asserts.Saw("false && \"This is wrong!\""));
    LogWrite(E_LOG_NONE, "A", "f", 1, "zero");
    EXPECT_TRUE(asserts.Saw("severity > E_LOG_NONE && \"Writing log with value used internally "
                            "by logger!!!\""));
    EXPECT_EQ(asserts.Count(), 3u);
    EXPECT_EQ(file.Read(), "ASSERT:A:                1\n"
                           "ERROR:A:                 2\n"
                           "WARNING:A:               3\n"
                           "INFO:A:                  4\n"
                           "VERBOSE:A:               5\n"
                           "VERBOSE:ABCDEFGHIJKLMNO: 20\n"
                           "ASSERT:ABCDEFGHIJKLMNO:  15\n"
                           "INFO:A:                  " +
                               longText.substr(0, 1023) +
                               "\n"
                               "Q:                       nine\n"
                               "A:                       zero\n");
    EXPECT_EQ(s_Calls[5].m_Channel, "ABCDEFGHIJKLMNOPQRST"); // the callback has it whole
    LogShutdown();
}

TEST(LogOutput, FiltersJudgeVerboseMessagesOnly)
{
    CAssertRecorder asserts;
    CLogFile file;
    InitToFile(file);
    LogSetChannelSeverity("NET", E_LOG_VERBOSE);
    LogSetFilters("net/", E_LOG_FILTER_INCLUDE, nullptr, E_LOG_FILTER_INCLUDE);
    LogWrite(E_LOG_VERBOSE, "NET", "src/net/a.cpp", 1, "in");
    LogWrite(E_LOG_VERBOSE, "NET", "src/ui/b.cpp", 2, "out"); // the entry does not help
    LogWrite(E_LOG_INFO, "NET", "src/ui/b.cpp", 3, "info");
    ASSERT_EQ(s_Calls.size(), 3u);
    EXPECT_FALSE(s_Calls[1].m_Passed);
    // An invalid mode asserts each time it is tested, and only then: the channel filter
    // is not consulted for a file that the file filter rejects.
    LogSetFilters("net/", E_LOG_FILTER_INCLUDE, "X", static_cast<ELogFilterMode>(7));
    LogWrite(E_LOG_VERBOSE, "NET", "src/ui/c.cpp", 4, "rejected");
    EXPECT_EQ(asserts.Count(), 0u);
    LogWrite(E_LOG_VERBOSE, "NET", "src/net/d.cpp", 5, "invalid");
    ASSERT_EQ(asserts.Count(), 1u);
    EXPECT_EQ(asserts.Records()[0].m_Expression, "false");

    LogSetFilters(nullptr, E_LOG_FILTER_INCLUDE, "NE", E_LOG_FILTER_EXCLUDE);
    LogWrite(E_LOG_VERBOSE, "NET", "f", 6, "excluded");
    LogWrite(E_LOG_VERBOSE, "UI", "f", 7, "kept");
    LogSetFilters("", E_LOG_FILTER_EXCLUDE, nullptr, E_LOG_FILTER_INCLUDE);
    LogWrite(E_LOG_VERBOSE, "UI", "f", 8, "empty text excludes all");
    LogWrite(E_LOG_ERROR, "UI", "f", 9, "error");
    LogSetFilters(nullptr, E_LOG_FILTER_EXCLUDE, nullptr, E_LOG_FILTER_EXCLUDE); // cleared
    LogWrite(E_LOG_VERBOSE, "UI", "f", 10, "cleared");
    std::string expected = LogTestHead("VERBOSE:NET:") + "in\n" + LogTestHead("INFO:NET:") +
                           "info\n" + LogTestHead("VERBOSE:NET:") + "invalid\n" +
                           LogTestHead("VERBOSE:UI:") + "kept\n" + LogTestHead("ERROR:UI:") +
                           "error\n" + LogTestHead("VERBOSE:UI:") + "cleared\n";
    EXPECT_EQ(file.Read(), expected);

    // 600 characters keep their first 511, with a warning; 511 stay whole, quietly. The
    // short channel text sits in a block of its own size: nothing may read past it.
    std::string long600(600, 'f');
    long600[510] = 'Y';
    LogSetFilters(long600.c_str(), E_LOG_FILTER_INCLUDE, nullptr, E_LOG_FILTER_INCLUDE);
    EXPECT_EQ(std::string(g_LogContext->m_FileFilter.m_Text), long600.substr(0, 511));
    expected +=
        LogTestHead("WARNING:LOGGER:") + "The filter was truncated to 511 chars to fit in buffer\n";
    std::vector<char> shortText = {'a', 'b', 'c', '\0'};
    LogSetFilters(long600.substr(0, 511).c_str(), E_LOG_FILTER_INCLUDE, shortText.data(),
                  E_LOG_FILTER_INCLUDE);
    EXPECT_EQ(std::string(g_LogContext->m_FileFilter.m_Text), long600.substr(0, 511));
    EXPECT_STREQ(g_LogContext->m_ChannelFilter.m_Text, "abc");
    EXPECT_EQ(file.Read(), expected);
    LogShutdown();
}

TEST(LogOutput, ChannelEntriesReplaceBothOutputThresholds)
{
    SCountingAllocator counting;
    CLogFile quiet, loud;
    SLogOutput outputs[2] = {LogTestOutput(quiet.Get(), E_LOG_NONE),
                             LogTestOutput(loud.Get(), E_LOG_VERBOSE)};
    SLogInitParams params;
    params.m_Allocator = counting.Get();
    params.m_Outputs[0] = &outputs[0];
    params.m_Outputs[1] = &outputs[1];
    LogInit(params);

    char name[] = "NET";
    LogSetChannelSeverity(name, E_LOG_INFO);
    name[0] = 'X';                                   // the entry has its own copy
    LogWrite(E_LOG_INFO, "NET", "f", 1, "opened");   // the output that is off writes it
    LogWrite(E_LOG_VERBOSE, "NET", "f", 1, "held");  // the verbose output does not
    LogWrite(E_LOG_INFO, "Net", "f", 1, "own case"); // another channel: own thresholds
    LogSetChannelSeverity("NET", E_LOG_ERROR);       // set again: replaced
    LogWrite(E_LOG_WARNING, "NET", "f", 1, "held too");
    LogWrite(E_LOG_ERROR, "NET", "f", 1, "error");
    LogSetChannelSeverity("UI", E_LOG_NONE);
    LogWrite(E_LOG_ASSERT, "UI", "f", 1, "silenced");
    EXPECT_EQ(quiet.Read(),
              LogTestHead("INFO:NET:") + "opened\n" + LogTestHead("ERROR:NET:") + "error\n");
    EXPECT_EQ(loud.Read(), LogTestHead("INFO:NET:") + "opened\n" + LogTestHead("INFO:Net:") +
                               "own case\n" + LogTestHead("ERROR:NET:") + "error\n");

    g_LogContext->Reset(); // the entries outlive a reset
    EXPECT_EQ(g_LogContext->m_ChannelSeverities.Size(), 2u);
    int allocations = counting.m_Allocations, frees = counting.m_Frees;
    LogRemoveChannelSeverity("UI"); // gives back the temporary key and the entry's name
    EXPECT_EQ(counting.m_Frees - frees, 2);
    LogRemoveChannelSeverity("UI"); // no entry: only the temporary key
    EXPECT_EQ(counting.m_Allocations - allocations, 2);
    EXPECT_EQ(counting.m_Frees - frees, 3);
    EXPECT_EQ(g_LogContext->m_ChannelSeverities.Size(), 1u);
    LogShutdown();
}

TEST(LogOutput, ScopesIndentPerThreadAndUnindentWrapsToTheDeepest)
{
    CLogFile file;
    InitToFile(file);
    {
        CLogScope scope(E_LOG_INFO, "S", "f", 1, "enter %d", 1);
        LogWrite(E_LOG_INFO, "S", "f", 2, "inside");
        std::thread other([] { LogWrite(E_LOG_INFO, "S", "f", 3, "other thread"); });
        other.join();
    }
    LogWrite(E_LOG_INFO, "S", "f", 4, "still inside"); // the scope object undoes nothing
    LogUnindent();
    LogWrite(E_LOG_INFO, "S", "f", 4, "after");
    LogUnindent(); // at 0: wraps to the largest level
    LogWrite(E_LOG_INFO, "S", "f", 5, "deepest");
    const std::string head = LogTestHead("INFO:S:");
    EXPECT_EQ(file.Read(), head + "enter 1\n" + head + "  inside\n" + head + "other thread\n" +
                               head + "  still inside\n" + head + "after\n" + head +
                               "          deepest\n");
    EXPECT_EQ(s_Calls.back().m_Indentation, 0xFFFFFFFFu);
    LogShutdown();
}

TEST(LogOutput, OutputHookDecidesWhetherTheOutputRuns)
{
    CLogFile file;
    InitToFile(file);
    int hooked = 0;
    LogSetOutputHook(
        [](LogOutputFunc output, SLogMessage* message, void* user) {
            ++*static_cast<int*>(user);
            if (message->m_Severity != E_LOG_INFO)
                output(message);
        },
        &hooked);
    LogWrite(E_LOG_INFO, "H", "f", 1, "swallowed");
    LogWrite(E_LOG_ERROR, "H", "f", 2, "passed on");
    EXPECT_EQ(hooked, 2);
    EXPECT_EQ(file.Read(), LogTestHead("ERROR:H:") + "passed on\n");
    EXPECT_EQ(s_Calls.size(), 1u);
    LogShutdown();
}
