// The lines that an initialised log writes, compared whole and byte for byte: severity
// field and channel tag, indentation, time stamps, file and line, filters, channel
// thresholds, the callback, the output hook and the debugger copy; and null texts given to
// the log and the thread layer.
#include <algorithm>
#include <functional>
#include <sstream>
#include <thread>
#include <tuple>

#include "common/thread/thread.h"
#include "guard_page.h"
#include "log_test_support.h"

using LogOutput = LogTest;

// Each call as one text, appended to the vector passed as user data.
static bool RecordCall(ELogSeverity severity, const char* channel, const char* file,
                       const char* text, bool passed, uint32_t line, uint32_t indentation,
                       int64_t elapsedMs, void* userData)
{
    std::ostringstream call;
    call << severity << ' ' << channel << ' ' << file << '(' << line << ") " << text << " passed "
         << passed << " level " << indentation << " ms " << elapsedMs;
    static_cast<std::vector<std::string>*>(userData)->push_back(call.str());
    return false;
}

TEST_F(LogOutput, DefaultParametersWriteWarningsToStandardOutputAndTheDebugger)
{
    LogShutdown();
    LogInit(SLogInitParams());
    std::vector<std::string> calls;
    LogSetCallback(&RecordCall, &calls);
    SetElapsedMs(7);
    testing::internal::CaptureStdout();
    LogWrite(E_LOG_WARNING, "LOGGER", "src/a.cpp", 12, "hello %s %d", "world", 7);
    LogWrite(E_LOG_INFO, "LOGGER", "src/a.cpp", 13, "quiet %d", 8);
    // The debugger gets the same bytes in two pieces, formatted a second time.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING:LOGGER:          hello world 7\n");
    EXPECT_EQ(s_DebugPieces,
              (std::vector<std::string>{"WARNING:LOGGER:          hello world 7", "\n"}));
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "3 LOGGER src/a.cpp(12) hello world 7 passed 1 level 0 ms 7",
                         "4 LOGGER src/a.cpp(13) quiet 8 passed 1 level 0 ms 7"}));
}

TEST_F(LogOutput, LineLayoutForEveryFlagStampIndentationSeverityAndChannel)
{
    CAssertRecorder asserts;
    SLogOutput& out = g_LogContext->m_Outputs[1];
    // Every stamp with every flag combination at levels 0..7, two blanks a level up to 5,
    // opening scopes: each writes its line, then indents, and its end does not unindent.
    const std::pair<uint64_t, std::string> stamps[] = {
        {999, "  0.999: "}, {61005, " 61.005: "}, {1234567, "1234.567: "}};
    for (const auto& [ms, stamp] : stamps)
        for (int flags = 0; flags < 4; ++flags)
        {
            SetElapsedMs(ms);
            out.m_PrintFileAndLine = (flags & 1) != 0;
            out.m_PrintTime = (flags & 2) != 0;
            for (uint32_t level = 0; level <= 7; ++level)
            {
                CLogScope scope(E_LOG_ERROR, "IO", "src/io.cpp", 42, "level %u", level);
                EXPECT_EQ(m_File.Take(),
                          "ERROR:IO:" + std::string(16 + 2 * std::min(level, 5u), ' ') +
                              (out.m_PrintTime ? stamp : "") + "level " + std::to_string(level) +
                              (out.m_PrintFileAndLine ? " src/io.cpp(42)\n" : "\n"))
                    << ms << " ms, flags " << flags;
            }
            for (int level = 0; level <= 7; ++level)
                LogUnindent();
        }
    out.m_PrintFileAndLine = out.m_PrintTime = false;
    // Severities without a word leave the field blank and the tag at column 0.
    LogSetChannelSeverity("Q", static_cast<ELogSeverity>(9));
    const std::string longText(2000, 'x');
    const std::tuple<int, const char*, const char*, std::string> lines[] = {
        {E_LOG_VERBOSE, "ABCDEFGHIJKLMNOPQRST", "20", "VERBOSE:ABCDEFGHIJKLMNO: 20\n"},
        {E_LOG_ASSERT, "ABCDEFGHIJKLMNO", "15", "ASSERT:ABCDEFGHIJKLMNO:  15\n"},
        {E_LOG_INFO, "A", longText.c_str(),
         LogTestHead("INFO:A:") + longText.substr(0, 1023) + "\n"},
        {9, "Q", "nine", "Q:                       nine\n"},
        {E_LOG_NONE, "A", "zero", "A:                       zero\n"}};
    for (const auto& [severity, channel, text, line] : lines)
    {
        LogWrite(static_cast<ELogSeverity>(severity), channel, "f", 1, "%s", text);
        EXPECT_EQ(m_File.Take(), line);
    }
    EXPECT_EQ(asserts.Count(), 3u); // the two without a word, and E_LOG_NONE once more
    // Indentation is the thread's own; LogUnindent at level 0 wraps to the deepest.
    LogIndent();
    std::thread([] { LogWrite(E_LOG_INFO, "S", "f", 1, "other thread"); }).join();
    LogUnindent();
    LogUnindent();
    LogWrite(E_LOG_INFO, "S", "f", 2, "deepest");
    const std::string head = LogTestHead("INFO:S:");
    EXPECT_EQ(m_File.Take(), head + "other thread\n" + head + "          deepest\n");
    EXPECT_TRUE(s_DebugPieces.empty()); // copies are for standard output only
}

TEST_F(LogOutput, FiltersJudgeVerboseMessagesOnlyAndTheHookDecidesOutput)
{
    std::vector<std::string> calls;
    LogSetCallback(&RecordCall, &calls);
    const ELogFilterMode I = E_LOG_FILTER_INCLUDE, X = E_LOG_FILTER_EXCLUDE;
    // File filter, channel filter, severity, file, channel, whether it passes.
    const std::tuple<const char*, ELogFilterMode, const char*, ELogFilterMode, ELogSeverity,
                     const char*, const char*, bool>
        cases[] = {{"net/", I, nullptr, I, E_LOG_VERBOSE, "src/net/a.cpp", "NET", true},
                   {"net/", I, nullptr, I, E_LOG_VERBOSE, "src/ui/b.cpp", "NET", false},
                   {"net/", I, nullptr, I, E_LOG_INFO, "src/ui/b.cpp", "NET", true},
                   {nullptr, I, "NE", X, E_LOG_VERBOSE, "f", "NET", false},
                   {nullptr, I, "NE", X, E_LOG_VERBOSE, "f", "UI", true},
                   {"", X, nullptr, I, E_LOG_VERBOSE, "f", "UI", false},
                   {"", X, nullptr, I, E_LOG_INFO, "f", "UI", true},
                   {nullptr, X, nullptr, X, E_LOG_VERBOSE, "f", "UI", true}}; // null: cleared
    for (const auto& c : cases)
    {
        const auto& [fileFilter, fileMode, channelFilter, channelMode, severity, path, channel,
                     passed] = c;
        SCOPED_TRACE(&c - cases);
        LogSetFilters(fileFilter, fileMode, channelFilter, channelMode);
        LogWrite(severity, channel, path, 1, "m");
        const std::string word = severity == E_LOG_INFO ? "INFO:" : "VERBOSE:";
        EXPECT_EQ(m_File.Take(), passed ? LogTestHead(word + channel + ":") + "m\n" : "");
        EXPECT_NE(calls.back().find(passed ? "passed 1" : "passed 0"), std::string::npos);
    }

    // 600 characters keep their first 511, with a warning. Texts in blocks of their own
    // size, 511 characters and a short one, are taken whole and quietly, read no further.
    std::string long600(600, 'f');
    long600[510] = 'Y';
    LogSetFilters(long600.c_str(), I, nullptr, I);
    EXPECT_EQ(std::string(g_LogContext->m_FileFilter.m_Text), long600.substr(0, 511));
    EXPECT_EQ(m_File.Take(), LogTestHead("WARNING:LOGGER:") +
                                 "The filter was truncated to 511 chars to fit in buffer\n");
    std::vector<char> exact(512, 'g'), shortText = {'a', 'b', '\0'};
    exact.back() = '\0';
    LogSetFilters(exact.data(), I, shortText.data(), I);
    EXPECT_STREQ(g_LogContext->m_FileFilter.m_Text, exact.data());
    EXPECT_STREQ(g_LogContext->m_ChannelFilter.m_Text, "ab");
    EXPECT_EQ(m_File.Take(), "");

    // A hook that does not call the output swallows the message, callback included.
    LogSetOutputHook([](LogOutputFunc, SLogMessage*, void*) {}, nullptr);
    const size_t callCount = calls.size();
    LogWrite(E_LOG_ERROR, "H", "f", 2, "swallowed");
    EXPECT_EQ(m_File.Take(), "");
    EXPECT_EQ(calls.size(), callCount);
}

TEST_F(LogOutput, ChannelEntriesReplaceBothOutputThresholds)
{
    char name[] = "NET";
    LogSetChannelSeverity(name, E_LOG_INFO);
    name[0] = 'X';                                   // the entry has its own copy
    LogWrite(E_LOG_INFO, "NET", "f", 1, "opened");   // the output that is off writes it
    LogWrite(E_LOG_VERBOSE, "NET", "f", 1, "held");  // the verbose output does not
    LogWrite(E_LOG_INFO, "Net", "f", 1, "own case"); // another channel: own thresholds
    LogSetChannelSeverity("NET", E_LOG_ERROR);       // set again: replaced
    LogWrite(E_LOG_WARNING, "NET", "f", 1, "held too");
    LogWrite(E_LOG_ERROR, "NET", "f", 1, "error");
    LogRemoveChannelSeverity("NET"); // the outputs' own thresholds again
    LogWrite(E_LOG_INFO, "NET", "f", 1, "removed");
    const std::string info = LogTestHead("INFO:NET:"), error = LogTestHead("ERROR:NET:");
    EXPECT_EQ(m_Quiet.Take(), info + "opened\n" + error + "error\n");
    EXPECT_EQ(m_File.Take(), info + "opened\n" + LogTestHead("INFO:Net:") + "own case\n" + error +
                                 "error\n" + info + "removed\n");
}

// A null text where a text is expected is asserted and read as the empty text: the message
// is still written (the verbose one after the file filter has read its file), and the
// thread still runs, or is adopted, with an empty name.
static std::string s_ThreadName;

TEST_F(LogOutput, NullTextsAreAssertedAndReadAsEmpty)
{
    g_LogContext->m_Outputs[1].m_PrintFileAndLine = true;
    const auto threadName = [](const std::function<void()>& make) {
        s_ThreadName = "unset";
        make();
        return "[" + s_ThreadName + "]";
    };
    const char* const unnamed = "name != 0 && \"A thread needs a name!\"";
    const std::tuple<const char*, std::function<std::string()>, std::string> cases[] = {
        {"channel != 0 && \"A log message needs a channel!\"",
         [&] {
             LogWrite(E_LOG_ERROR, nullptr, "a.cpp", 1, "m");
             return m_File.Take();
         },
         LogTestHead("ERROR::") + "m a.cpp(1)\n"},
        {"file != 0 && \"A log message needs a source file!\"",
         [&] {
             LogWrite(E_LOG_VERBOSE, "C", nullptr, 2, "m");
             return m_File.Take();
         },
         LogTestHead("VERBOSE:C:") + "m (2)\n"},
        {unnamed,
         [&] {
             return threadName([] {
                 ThreadDestroy(ThreadCreate(
                     nullptr, [](void*) { s_ThreadName = ThreadGetCurrentName(); }, nullptr, 0));
             });
         },
         "[]"},
        {unnamed,
         [&] {
             return threadName([] {
                 s_ThreadName = ThreadGetName(ThreadAttachCurrent(nullptr));
                 ThreadDetachCurrent();
             });
         },
         "[]"}};
    for (const auto& [assertion, call, result] : cases)
    {
        CAssertRecorder asserts;
        EXPECT_EQ(call(), result) << assertion;
        ASSERT_EQ(asserts.Count(), 1u) << assertion;
        EXPECT_EQ(asserts.Records()[0].m_Expression, assertion);
    }
}

// Channel, file, text and filters whose terminating zero is the last byte before an
// inaccessible page: the log reads none of them past its end (filters past 512 chars).
TEST_F(LogOutput, TextsEndingAtAGuardPageAreReadNoFurther)
{
    const std::string name(255, 'c'), file(255, 'f'), text(255, 't');
    CGuardedText channelText(name), fileText(file), textText(text);
    CGuardedText fileFilter("y"), channelFilter(std::string(512, 'x')); // short and cut
    LogSetChannelSeverity(channelText.Get(), E_LOG_VERBOSE);
    LogSetFilters(fileFilter.Get(), E_LOG_FILTER_EXCLUDE, channelFilter.Get(),
                  E_LOG_FILTER_EXCLUDE);
    EXPECT_EQ(g_LogContext->m_ChannelFilter.m_Text, std::string(511, 'x'));
    g_LogContext->m_Outputs[1].m_PrintFileAndLine = true;
    LogWrite(E_LOG_VERBOSE, channelText.Get(), fileText.Get(), 5, "%s", textText.Get());
    LogRemoveChannelSeverity(channelText.Get());
    EXPECT_EQ(m_File.Take(), LogTestHead("WARNING:LOGGER:") +
                                 "The filter was truncated to 511 chars to fit in buffer\n" +
                                 "VERBOSE:" + name.substr(0, 15) + ": " + text + " " + file +
                                 "(5)\n");
    EXPECT_EQ(g_LogContext->m_ChannelSeverities.Find(CLogString(name.c_str(), false)), nullptr);
}

// An output without a stream stays silent even when a channel entry passes the message; a
// filter of an unknown mode is reported and passes; a callback may log; the debugger's copy
// of a piece is cut at 2,047 characters, in the one-write path and the piecewise one.
TEST_F(LogOutput, StreamlessOutputsUnknownModesNestedLogsAndTheDebuggerCut)
{
    LogShutdown();
    SLogOutput outputs[2] = {{m_File.m_File, E_LOG_ERROR, false, false},
                             {nullptr, E_LOG_VERBOSE, false, false}};
    SLogInitParams params;
    params.m_Allocator = m_Counting.Get();
    params.m_Outputs[0] = &outputs[0];
    params.m_Outputs[1] = &outputs[1];
    LogInit(params);
    LogSetChannelSeverity("C", E_LOG_VERBOSE);
    CAssertRecorder asserts;
    LogSetFilters("x", static_cast<ELogFilterMode>(5), nullptr, E_LOG_FILTER_INCLUDE);
    LogSetCallback(
        [](ELogSeverity, const char* channel, const char*, const char*, bool, uint32_t, uint32_t,
           int64_t, void*) {
            if (channel[0] == 'C')
                LogWrite(E_LOG_ERROR, "N", "f", 2, "from the callback");
            return true;
        },
        nullptr);
    LogWrite(E_LOG_VERBOSE, "C", "f", 1, "verbose");
    EXPECT_EQ(m_File.Take(), LogTestHead("VERBOSE:C:") + "verbose\n" + LogTestHead("ERROR:N:") +
                                 "from the callback\n");
    ASSERT_EQ(asserts.Count(), 1u);
    EXPECT_EQ(asserts.Records()[0].m_Expression, "false");

    LogSetCallback(nullptr, nullptr);
    g_LogContext->m_Outputs[0] = {stdout, E_LOG_ERROR, true, false};
    for (size_t fileLength : {2100u, 5000u})
    {
        const std::string file(fileLength, 'f');
        s_DebugPieces.clear();
        testing::internal::CaptureStdout();
        LogWrite(E_LOG_ERROR, "D", file.c_str(), 3, "m");
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  LogTestHead("ERROR:D:") + "m " + file + "(3)\n");
        ASSERT_EQ(s_DebugPieces.size(), 2u) << fileLength;
        EXPECT_EQ(s_DebugPieces[1], (" " + file).substr(0, 2047)) << fileLength;
    }
}
