// The log: its lines byte for byte, thresholds, filters, callback and debugger copy;
// set-up, tear-down and their misuse; null texts, texts ending at a guard page, a failing
// allocator, and concurrent writers. Portable.
#include "common/debug/log_context.h"
#include "test_support.h"

using SLines = std::vector<std::string>;

// Each call as one text. On channels "SHUT" and "ASSERT" the callback shuts the log down,
// on "NEST" it logs.
static SLines s_Calls;
static bool RecordCall(ELogSeverity severity, const char* channel, const char* file,
                       const char* text, bool passed, uint32_t line, uint32_t level, int64_t ms,
                       void*)
{
    s_Calls.push_back(std::to_string(severity) + ' ' + channel + ' ' + file + '(' +
                      std::to_string(line) + ") " + text + ' ' + std::to_string(passed) + ' ' +
                      std::to_string(level) + ' ' + std::to_string(ms));
    if (std::string(channel) == "SHUT" || std::string(channel) == "ASSERT")
        LogShutdown();
    if (std::string(channel) == "NEST")
        LogWrite(E_LOG_ERROR, "N", "f", 2, "from the callback");
    return true;
}

// Output 0 off and output 1 on every severity, both to one temporary stream (a line that
// both write comes twice), with the recording callback; a fixed clock and the debugger
// copies kept; every block back in the counting allocator at the end.
class LogTest : public testing::Test
{
protected:
    static inline int64_t s_Now = 0;
    // Severity word and channel tag padded to 25 columns: the start of a line at level 0.
    static std::string Head(const std::string& w) { return w + std::string(25 - w.size(), ' '); }
    static inline SLines s_Debug;
    SCountingAllocator m_Counting;
    FILE* m_Stream = std::tmpfile();
    void SetUp() override
    {
        g_LogSeams = {[] { return s_Now; }, [](const char* text) { s_Debug.push_back(text); }};
        s_Calls.clear();
        Init();
    }
    void Init()
    {
        SLogOutput outputs[2] = {{m_Stream, E_LOG_NONE, false, false},
                                 {m_Stream, E_LOG_VERBOSE, false, false}};
        SLogInitParams params;
        params.m_Allocator = m_Counting.Get();
        std::tie(params.m_Outputs[0], params.m_Outputs[1]) = std::pair(&outputs[0], &outputs[1]);
        LogInit(params);
        LogSetCallback(&RecordCall, nullptr);
    }
    // What was written since the previous Take(); the next write starts again at the top.
    std::string Take()
    {
        std::string text(static_cast<size_t>(std::ftell(m_Stream)), '\0');
        std::rewind(m_Stream);
        text.resize(std::fread(text.data(), 1, text.size(), m_Stream));
        std::rewind(m_Stream);
        return text;
    }
    void TearDown() override
    {
        LogShutdown();
        std::fclose(m_Stream);
        EXPECT_EQ(m_Counting.Live(), 0);
    }
};

// Settings without a log, a second LogInit (continued past, it replaces the context), a
// second LogShutdown and a shutdown from the callback or the output hook (which would free
// the mutex that the writer holds) are reported and change nothing. LogInit installs its
// assertion handler only where none is. Without a log, messages are plain after a notice; a
// null format is asserted and written as empty. Refusals that the handler writes to the log
// nest: the fifth write is dropped, counted and reported once.
TEST_F(LogTest, MisuseIsReportedAndChangesNothing)
{
    EXPECT_EQ(AssertHandler, &LogDefaultAssertHandler);
    LogShutdown();
    CAssertRecorder asserts;
    const AssertHandlerFunc recorder = AssertHandler;
    LogSetChannelSeverity("C", E_LOG_INFO);
    LogSetFilters("f", E_LOG_FILTER_INCLUDE, nullptr, E_LOG_FILTER_INCLUDE);
    testing::internal::CaptureStderr();
    LogWrite(E_LOG_WARNING, "PROFILE", "file.cpp", 10, "first %d", 1);
    LogWrite(E_LOG_VERBOSE, "ANY", "file.cpp", 12, "second");
    LogWrite(E_LOG_VERBOSE, "ANY", "file.cpp", 13, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Trying to write to an uninitialized log. Use LogInit() to get rid of this "
              "message.\nfirst 1\nsecond\n\n");
    Init();
    SLogContext* first = g_LogContext;
    Init();
    EXPECT_NE(g_LogContext, first);
    LogShutdown();
    LogShutdown();
    EXPECT_EQ(AssertHandler, recorder);
    g_LogContext = first; // the fixture shuts the first context down
    g_LogAllocator = m_Counting.Get();
    LogWrite(E_LOG_ERROR, "SHUT", "f", 1, "callback");
    LogSetOutputHook(
        [](LogOutputFunc output, SLogMessage* message, void*) {
            output(message);
            LogShutdown();
        },
        nullptr);
    LogWrite(E_LOG_ERROR, "C", "f", 2, "hook");
    EXPECT_EQ(Take(), Head("ERROR:SHUT:") + "callback\n" + Head("ERROR:C:") + "hook\n");
    const std::string none = "context != 0 && \"LogInit has not been run!\"",
                      refused = "!writing && \"LogShutdown from inside the log's output path!\"";
    EXPECT_EQ(
        asserts.Expressions(),
        (SLines{none, none, "format != 0 && \"A log message needs a format!\"",
                "!LogInitialized() && \"LogInit has already been run!\"", none, refused, refused}));
    LogSetOutputHook(&LogDefaultOutputHook, nullptr);
    AssertHandler = [](const char* file, int line, const char* expression) {
        return !LogDefaultAssertHandler(file, line, expression);
    };
    LogWrite(E_LOG_ERROR, "SHUT", "f", 3, "fatal");
    LogWrite(E_LOG_ERROR, "SHUT", "f", 4, "fatal");
    // Each write, its line and three refusals; the first drop reported after the first.
    const std::string lines = Take(), drop = Head("ERROR:LOGGER:") +
                                             "Dropped 1 log messages nested deeper than 4 writes\n";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 9);
    EXPECT_EQ(lines.find(drop), lines.find("ERROR:SHUT:", 1) - drop.size());
    EXPECT_EQ(LogDroppedNestedWrites(), 2u);
}

// The debugger's copy; severity word and channel tag (cut at 15), two blanks a level up to
// 5 (a scope indents after its own line), the time stamp and the file and line.
TEST_F(LogTest, LineLayoutAndTheDebuggerCopy)
{
    // Standard output's lines go to the debugger too, in two pieces (the text, then the end
    // of the line), each cut at 2,047 characters, whether the line is written at once or in
    // parts.
    g_LogContext->m_Outputs[0] = {stdout, E_LOG_ERROR, true, false};
    for (size_t length : {2100u, 5000u})
    {
        const std::string file(length, 'f');
        s_Debug.clear();
        testing::internal::CaptureStdout();
        LogWrite(E_LOG_ERROR, "D", file.c_str(), 3, "m");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), Head("ERROR:D:") + "m " + file + "(3)\n");
        EXPECT_EQ(s_Debug, (SLines{Head("ERROR:D:") + "m", (" " + file).substr(0, 2047)}));
    }
    Take();
    g_LogContext->m_Outputs[1].m_PrintFileAndLine = g_LogContext->m_Outputs[1].m_PrintTime = true;
    const char* const words[] = {"ASSERT:", "ERROR:", "WARNING:", "INFO:", "VERBOSE:"};
    const std::pair<uint64_t, std::string> stamps[] = {
        {999, "  0.999"}, {61005, " 61.005"}, {1234567, "1234.567"}};
    for (uint32_t level = 0; level <= 6; ++level)
    {
        // Half a millisecond past: the cut to milliseconds is exact at any counter frequency.
        s_Now =
            static_cast<int64_t>((2 * stamps[level % 3].first + 1) * GetCounterFrequency() / 2000);
        CLogScope scope(ELogSeverity(1 + level % 5), "ABCDEFGHIJKLMNOPQ", "io.cpp", 42, "t");
        EXPECT_EQ(Take(), Head(words[level % 5] + std::string("ABCDEFGHIJKLMNO:")) +
                              std::string(2 * (level < 5 ? level : 5), ' ') +
                              stamps[level % 3].second + ": t io.cpp(42)\n");
    }
}

// A channel entry replaces both outputs' thresholds until it is removed; a callback may
// log; the write path allocates nothing. A filter of an unknown mode is reported and passes.
TEST_F(LogTest, ChannelEntriesAndFiltersDecideWhatIsWritten)
{
    char name[] = "NET";
    LogSetChannelSeverity(name, E_LOG_INFO);
    name[0] = 'X';                                    // the entry has its own copy
    const int allocations = m_Counting.m_Allocations; // the write path allocates nothing
    LogWrite(E_LOG_INFO, "NET", "f", 1, "twice");
    LogWrite(E_LOG_VERBOSE, "NET", "f", 1, "held");
    LogWrite(E_LOG_INFO, "Net", "f", 1, "once"); // another channel
    LogRemoveChannelSeverity("NET");
    LogWrite(E_LOG_INFO, "NET", "f", 1, "removed");
    LogWrite(E_LOG_INFO, "NEST", "f", 1, "nested");
    EXPECT_EQ(s_Calls[1], "5 NET f(1) held 1 0 0"); // the callback sees what no output takes
    const std::string info = Head("INFO:NET:");
    EXPECT_EQ(Take(), info + "twice\n" + info + "twice\n" + Head("INFO:Net:") + "once\n" + info +
                          "removed\n" + Head("INFO:NEST:") + "nested\n" + Head("ERROR:N:") +
                          "from the callback\n");
    // Filters hold back verbose messages only; a filter of exactly 511 characters is whole.
    // Their verdicts on arbitrary texts are the log fuzz target's to check.
    const std::string x510(510, 'x'), x = std::string(15, 'x') + ":";
    LogSetFilters("-", E_LOG_FILTER_EXCLUDE, (x510 + "x").c_str(), E_LOG_FILTER_EXCLUDE);
    for (int severity = E_LOG_ASSERT; severity <= E_LOG_VERBOSE; ++severity)
        LogWrite(ELogSeverity(severity), x510.c_str(), "-", 1, "%d", severity);
    LogWrite(E_LOG_VERBOSE, x510.c_str(), "+", 1, "passes");
    EXPECT_EQ(Take(), Head("ASSERT:" + x) + "1\n" + Head("ERROR:" + x) + "2\n" +
                          Head("WARNING:" + x) + "3\n" + Head("INFO:" + x) + "4\n" +
                          Head("VERBOSE:" + x) + "passes\n");
    CAssertRecorder asserts;
    LogSetFilters("x", ELogFilterMode(5), nullptr, E_LOG_FILTER_INCLUDE);
    LogWrite(E_LOG_VERBOSE, "UI", "f", 1, "m");
    EXPECT_EQ(Take(), Head("VERBOSE:UI:") + "m\n");
    EXPECT_EQ(asserts.Expressions(), SLines{"false"});
    EXPECT_EQ(m_Counting.m_Allocations, allocations);
}

// Channel, file, text and filters that end at an inaccessible page are read no further (a
// filter past 511 characters is cut, with a warning). A null text is asserted and read as
// empty: the message is still written (the verbose one after the file filter has read its
// file), the thread still runs or is adopted.
TEST_F(LogTest, TextsEndingAtAGuardPageOrNullAreReadNoFurther)
{
    const std::string name(255, 'c'), file(255, 'f'), text(255, 't');
    CGuardedText channelText(name), fileText(file), textText(text), fileFilter("y"),
        channelFilter(std::string(512, 'x'));
    LogSetChannelSeverity(channelText.Get(), E_LOG_VERBOSE);
    LogSetFilters(fileFilter.Get(), E_LOG_FILTER_EXCLUDE, channelFilter.Get(),
                  E_LOG_FILTER_EXCLUDE);
    // Output 1 without a stream stays silent even where a channel entry lets a message pass.
    g_LogContext->m_Outputs[0] = {m_Stream, E_LOG_VERBOSE, true, false};
    g_LogContext->m_Outputs[1] = {nullptr, E_LOG_NONE, false, false};
    LogWrite(E_LOG_VERBOSE, channelText.Get(), fileText.Get(), 5, "%s", textText.Get());
    LogRemoveChannelSeverity(channelText.Get());
    EXPECT_EQ(Take(), Head("WARNING:LOGGER:") +
                          "The filter was truncated to 511 chars to fit in buffer\n" +
                          "VERBOSE:" + name.substr(0, 15) + ": " + text + " " + file + "(5)\n");
    EXPECT_EQ(g_LogContext->m_ChannelSeverities.Size(), 0u);
    CAssertRecorder asserts;
    LogWrite(E_LOG_ERROR, nullptr, "a.cpp", 1, "m");
    LogWrite(E_LOG_VERBOSE, "C", nullptr, 2, "m");
    EXPECT_EQ(Take(), Head("ERROR::") + "m a.cpp(1)\n" + Head("VERBOSE:C:") + "m (2)\n");
    static std::string s_Names = "unset";
    ThreadDestroy(ThreadCreate(
        nullptr, [](void*) { s_Names = ThreadGetCurrentName(); }, nullptr, 0));
    s_Names += ThreadGetName(ThreadAttachCurrent(nullptr));
    ThreadDetachCurrent();
    EXPECT_EQ(s_Names, "");
    EXPECT_EQ(asserts.Expressions(), (SLines{"channel != 0 && \"A log message needs a channel!\"",
                                             "file != 0 && \"A log message needs a source file!\"",
                                             "name != 0 && \"A thread needs a name!\"",
                                             "name != 0 && \"A thread needs a name!\""}));
}

// A name that cannot get its block is left empty; each allocation of a new entry failing
// in turn leaves the table as it was; updating an entry and removal need no memory; entries
// stay in byte order.
TEST_F(LogTest, TheChannelTableStaysAsItWasWhenTheAllocatorFails)
{
    m_Counting.m_FailCountdown = 0;
    EXPECT_EQ(CLogString("key", true).GetString(), nullptr);
    const CLogChannelSeverityTable& table = g_LogContext->m_ChannelSeverities;
    for (const char* channel : {"C", "E", "A", "G", "B"})
    {
        const uint32_t size = table.Size(); // the array grows for the first and the fifth
        for (int failing = 0; failing < (size == 0 || size == 4 ? 2 : 1); ++failing)
        {
            const int live = m_Counting.Live();
            m_Counting.m_FailCountdown = failing;
            LogSetChannelSeverity(channel, E_LOG_INFO);
            EXPECT_EQ(std::pair(table.Size(), m_Counting.Live()), std::pair(size, live));
        }
        LogSetChannelSeverity(channel, E_LOG_INFO);
        m_Counting.m_FailCountdown = 0;
        LogSetChannelSeverity(channel, static_cast<ELogSeverity>(channel[0]));
    }
    m_Counting.m_FailCountdown = 0; // armed until an allocation is tried
    LogRemoveChannelSeverity("B");
    LogRemoveChannelSeverity("C");
    EXPECT_EQ(m_Counting.m_FailCountdown, 0);
    std::string keys;
    for (uint32_t i = 0; i < table.Size(); ++i)
        keys += table.At(i).m_Channel.GetString() + std::string(1, char(table.At(i).m_Severity));
    EXPECT_EQ(keys, "AAEEGG");
}

// Concurrent writers while another thread changes channel entries: every line arrives
// whole, once and in its writer's order; the callback sees every message.
TEST_F(LogTest, LinesOfConcurrentWritersNeverInterleave)
{
    const int writers = 4, lines = 2500;
    g_LogContext->m_Outputs[0].m_Stream = nullptr;
    g_LogContext->m_Outputs[1] = {m_Stream, E_LOG_WARNING, true, false};
    std::atomic<int> finished{0};
    const std::string padding(150, '.'); // long lines make a torn write likely to show
    // The last thread changes thresholds (all let warnings pass) and entries that grow and
    // shrink the table.
    RunThreads(writers + 1, [&](int writer) {
        const char channel[] = {'W', static_cast<char>('0' + writer), '\0'};
        for (int i = 0; i < lines && writer < writers; ++i)
            LogWrite(E_LOG_WARNING, channel, "w.cpp", 7, "%d %s", i, padding.c_str());
        finished += writer < writers;
        for (int round = 0; writer == writers && finished.load() < writers; ++round)
        {
            LogSetChannelSeverity("W0", ELogSeverity(E_LOG_WARNING + round % 3));
            LogSetChannelSeverity(round % 2 ? "Z1" : "Z2", E_LOG_INFO);
            LogRemoveChannelSeverity("W0");
            LogRemoveChannelSeverity(round % 2 ? "Z2" : "Z1");
        }
    });
    std::istringstream text(Take());
    int next[writers] = {};
    for (std::string line; std::getline(text, line);)
    {
        const int writer = line.size() > 9 ? (line[9] - '0') & 3 : 0;
        ASSERT_EQ(line, Head("WARNING:W" + std::to_string(writer) + ":") +
                            std::to_string(next[writer]++) + " " + padding + " w.cpp(7)");
    }
    EXPECT_EQ(std::vector<int>(next, next + writers), std::vector<int>(writers, lines));
    EXPECT_EQ(s_Calls.size(), size_t(writers * lines));
}
