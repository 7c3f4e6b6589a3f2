// The log: its lifecycle and settings, the write entry with its plain fallback on the
// standard error stream while uninitialised, and the formatting of one message into the
// line written to each output. Portable; the debugger output comes through platform/os.h.
#include "common/debug/log.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "common/debug/assert.h"
#include "common/debug/log_context.h"
#include "common/memory/allocator.h"
#include "common/thread/mutex.h"
#include "common/thread/synchronization.h"
#include "common/time/counter.h"
#include "platform/os.h"

// Constant-initialised, so LogInit works from static constructors that run before this
// unit's own initialisers.
SLogContext* g_LogContext = nullptr;
FILE g_LogStandardOutput{}; // only its address is used
constinit SLogOutput g_DefaultLogOutput = {LOG_STANDARD_OUTPUT, E_LOG_WARNING, false, false};
constinit SLogSeams g_LogSeams = {&GetCounterTicks, &OsDebugOutput};

// The calling thread's indentation level.
TLS_GLOBAL_DEFINE(g_log_indentation);
// How deep the calling thread is in the log's output path (the hook, the output routine,
// the callback): nonzero while a write of this thread holds or may take the log's mutex.
// A plain thread-local: it is the log's own, no client reaches it, and every write
// touches it twice.
static constinit thread_local uintptr_t t_LogWritingDepth = 0;
// The writes that may be in the output path on one thread at once; one more, nested in
// them, is dropped: a callback or hook that writes again on every message (also through
// a failed check that the default assertion handler writes to the log) would otherwise
// recurse until the stack runs out.
static const uintptr_t LOG_MAX_NESTED_WRITES = 4;
// Set when this thread dropped a nested write; the outermost write then reports it.
static constinit thread_local bool t_LogDroppedNested = false;
static std::atomic<uint32_t> s_DroppedNestedWrites{0};
static std::atomic<bool> s_DroppedNestedReported{false};

// Set once the uninitialised notice has been printed; never cleared. The exchange makes
// the notice appear once per module even when two threads write the first message.
static std::atomic<bool> s_UninitializedNoticeWritten{false};

// Where an uninitialised log hands its messages first; null: nowhere. Wrapped, because
// va_list carries attributes that a template argument would drop on some targets.
struct SLogForward
{
    LogForwardFunc m_Func;
};
static std::atomic<SLogForward> s_Forward{SLogForward{nullptr}};
static std::atomic<LogTapFunc> s_Tap{nullptr};

static void LogSetIndentation(uintptr_t level)
{
    TLS_GLOBAL_SET_UINTPTR(g_log_indentation, level);
}

// Marks the calling thread as inside the output path for its lifetime, also when a hook or
// callback leaves it by an exception.
class CLogWritingScope
{
public:
    CLogWritingScope() : m_Depth(t_LogWritingDepth) { t_LogWritingDepth = m_Depth + 1; }
    ~CLogWritingScope() { t_LogWritingDepth = m_Depth; }
    CLogWritingScope(const CLogWritingScope&) = delete;
    CLogWritingScope& operator=(const CLogWritingScope&) = delete;

private:
    uintptr_t m_Depth;
};

// ---- records ----

SLogInitParams::SLogInitParams() : m_Allocator(&g_LogDefaultAllocator), m_Outputs{}
{
    m_Outputs[0] = &g_DefaultLogOutput;
    m_Outputs[1] = nullptr;
}

void SLogFilter::Set(const char* text, ELogFilterMode mode)
{
    // Reads the caller's text only up to its terminator, or up to the 512th character
    // when it is longer; the rest of the buffer is zero-filled.
    size_t length = 0;
    while (length < sizeof(m_Text) - 1 && text[length] != '\0')
        ++length;
    std::memcpy(m_Text, text, length);
    std::memset(m_Text + length, 0, sizeof(m_Text) - length);
    m_Mode = mode;
    if (length == sizeof(m_Text) - 1 && text[length] != '\0')
        LogWrite(E_LOG_WARNING, "LOGGER", __FILE__, __LINE__,
                 "The filter was truncated to %u chars to fit in buffer",
                 static_cast<unsigned>(sizeof(m_Text) - 1));
}

void SLogFilter::Clear()
{
    m_Text[0] = '\0';
    m_Mode = E_LOG_FILTER_INCLUDE;
}

bool SLogFilter::Matches(const char* subject) const
{
    bool found = std::strstr(subject, m_Text) != nullptr;
    switch (m_Mode)
    {
    case E_LOG_FILTER_INCLUDE:
        return found;
    case E_LOG_FILTER_EXCLUDE:
        return !found;
    }
    PLATFORM_ASSERT(false);
    return true;
}

SLogContext::SLogContext()
    : m_Outputs{}, m_Callback(nullptr), m_CallbackUserData(nullptr),
      m_OutputHook(&LogDefaultOutputHook),
      m_OutputHookUserData(nullptr), m_FileFilter{}, m_ChannelFilter{}, m_ChannelSeverities(),
      m_Mutex(ThreadMutexCreate()), m_StartTime(g_LogSeams.m_CounterNow())
{
    Reset();
}

SLogContext::~SLogContext()
{
    // The mutex goes first; the table's destructor then gives its blocks back through
    // g_LogAllocator, which must still be set.
    ThreadMutexDestroy(m_Mutex);
    m_Mutex = nullptr;
}

void SLogContext::Reset()
{
    m_Outputs[0] = {stdout, E_LOG_WARNING, false, false};
    m_Outputs[1] = {nullptr, E_LOG_NONE, false, false};
    m_Callback = nullptr;
    m_CallbackUserData = nullptr;
    m_FileFilter.Clear();
    m_ChannelFilter.Clear();
    LogSetIndentation(0);
}

// ---- lifecycle and settings ----

// The check that opens every operation that needs an initialised log; null means the
// operation does nothing.
static SLogContext* LogCheckedContext()
{
    SLogContext* context = g_LogContext;
    PLATFORM_ASSERT(context != 0 && "LogInit has not been run!");
    return context;
}

void LogInit(const SLogInitParams& initParams)
{
    PLATFORM_ASSERT(initParams.m_Allocator != 0 && "SLogInitParams is missing allocator!");
    if (initParams.m_Allocator == nullptr)
        return;

    // Before the context: its table allocates through g_LogAllocator.
    g_LogAllocator = initParams.m_Allocator;
    // Continuing past this replaces the context without releasing the old one, which
    // another thread may still be using.
    PLATFORM_ASSERT(!LogInitialized() && "LogInit has already been run!");

    void* memory = g_LogAllocator->m_Alloc(g_LogAllocator, sizeof(SLogContext), 8);
    if (memory == nullptr)
    {
        g_LogContext = nullptr;
        return;
    }
    SLogContext* context = ::new (memory) SLogContext();
    g_LogContext = context;

    for (int i = 0; i < 2; ++i)
    {
        const SLogOutput* output = initParams.m_Outputs[i];
        if (output != nullptr && output->m_Stream != nullptr)
            context->m_Outputs[i] = *output;
        else
            context->m_Outputs[i].m_Severity = E_LOG_NONE;
        if (context->m_Outputs[i].m_Stream == LOG_STANDARD_OUTPUT)
            context->m_Outputs[i].m_Stream = stdout;
    }
    context->m_Callback = nullptr;
    context->m_CallbackUserData = nullptr;
    context->m_OutputHook = &LogDefaultOutputHook;
    context->m_OutputHookUserData = nullptr;
    context->m_FileFilter.Clear();
    context->m_ChannelFilter.Clear();

    if (AssertHandler == nullptr)
        AssertHandler = &LogDefaultAssertHandler;
    LogSetIndentation(0);
}

bool LogInitialized()
{
    return g_LogContext != nullptr;
}

void LogShutdown()
{
    SLogContext* context = LogCheckedContext();
    if (context == nullptr)
        return;
    // A writer of this thread holds the context's mutex and unlocks it on its way out, so
    // the context cannot go while it is there.
    const bool writing = t_LogWritingDepth != 0;
    PLATFORM_ASSERT(!writing && "LogShutdown from inside the log's output path!");
    if (writing)
        return;

    for (SLogOutput& output : context->m_Outputs)
        if (output.m_Severity != E_LOG_NONE && output.m_Stream != nullptr)
            std::fflush(output.m_Stream);
    context->Reset();

    // Uninitialised before the teardown starts: a failed check inside it, reported through
    // LogDefaultAssertHandler, then takes the plain path instead of the dying context.
    g_LogContext = nullptr;
    context->~SLogContext();
    g_LogAllocator->m_Free(g_LogAllocator, context);
    g_LogAllocator = nullptr;
}

void LogSetCallback(LogCallback callback, void* userData)
{
    SLogContext* context = LogCheckedContext();
    if (context == nullptr)
        return;
    context->m_Callback = callback;
    context->m_CallbackUserData = userData;
}

void LogSetOutputHook(LogOutputHook hook, void* userData)
{
    SLogContext* context = LogCheckedContext();
    if (context == nullptr)
        return;
    context->m_OutputHook = hook;
    context->m_OutputHookUserData = userData;
}

void LogDefaultOutputHook(LogOutputFunc output, SLogMessage* message, void* /*userData*/)
{
    output(message);
}

void LogSetFilters(const char* fileFilter, ELogFilterMode fileFilterMode, const char* channelFilter,
                   ELogFilterMode channelFilterMode)
{
    SLogContext* context = LogCheckedContext();
    if (context == nullptr)
        return;
    if (fileFilter != nullptr)
        context->m_FileFilter.Set(fileFilter, fileFilterMode);
    else
        context->m_FileFilter.Clear();
    if (channelFilter != nullptr)
        context->m_ChannelFilter.Set(channelFilter, channelFilterMode);
    else
        context->m_ChannelFilter.Clear();
}

// ---- channel thresholds ----

// The checks that open both channel operations; null means the operation does nothing.
static SLogContext* LogChannelContext(const char* channel)
{
    SLogContext* context = LogCheckedContext();
    if (context == nullptr)
        return nullptr;
    PLATFORM_ASSERT(channel != 0 && "A channel needs a name!");
    return channel != nullptr ? context : nullptr;
}

void LogSetChannelSeverity(const char* channel, ELogSeverity severity)
{
    SLogContext* context = LogChannelContext(channel);
    if (context == nullptr)
        return;

    // The key borrows the caller's text: an existing entry is updated without memory, and
    // only a new one takes a copy of the name. When the log's allocator runs out the table
    // stays as it was.
    CScopedMutexLock lock(context->m_Mutex);
    context->m_ChannelSeverities.Set(CLogString(channel, false), severity);
}

void LogRemoveChannelSeverity(const char* channel)
{
    SLogContext* context = LogChannelContext(channel);
    if (context == nullptr)
        return;

    // The key borrows the caller's text: removing needs no memory, so it also works when
    // the log's allocator has run out.
    CScopedMutexLock lock(context->m_Mutex);
    context->m_ChannelSeverities.Erase(CLogString(channel, false));
}

// ---- indentation ----

void LogIndent()
{
    LogSetIndentation(TLS_GLOBAL_GET_UINTPTR(g_log_indentation) + 1);
}

void LogUnindent()
{
    LogSetIndentation(TLS_GLOBAL_GET_UINTPTR(g_log_indentation) - 1);
}

CLogScope::CLogScope(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
                     const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogWriteV(severity, channel, file, line, format, args);
    va_end(args);
    LogIndent();
}

bool LogDefaultAssertHandler(const char* file, int line, const char* expression)
{
    LogWrite(E_LOG_ASSERT, "ASSERT", file, static_cast<uint32_t>(line), "%s:%i %s", file, line,
             expression);
    return true;
}

double LogTicksToMilliseconds(uint64_t ticks)
{
    // Scale first, then one multiplication: this order fixes the result to the last bit.
    double scale = 1000.0 / static_cast<double>(GetCounterFrequency());
    return static_cast<double>(ticks) * scale;
}

// ---- write entry ----

void LogSetForward(LogForwardFunc forward)
{
    s_Forward.store(SLogForward{forward}, std::memory_order_release);
}

void LogSetTap(LogTapFunc tap)
{
    s_Tap.store(tap, std::memory_order_release);
}

static bool LogForwardUninitialized(ELogSeverity severity, const char* channel, const char* file,
                                    uint32_t line, const char* format, va_list args)
{
    LogForwardFunc forward = s_Forward.load(std::memory_order_acquire).m_Func;
    if (forward == nullptr)
        return false;
    // A copy, so that the fallback still has the arguments when forwarding declines.
    va_list copy;
    va_copy(copy, args);
    const bool delivered = forward(severity, channel, file, line, format, copy);
    va_end(copy);
    return delivered;
}

static void LogWriteUninitialized(const char* format, va_list args)
{
    if (!s_UninitializedNoticeWritten.exchange(true))
        std::fputs("Trying to write to an uninitialized log. Use LogInit() to get rid of this "
                   "message.\n",
                   stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

static int64_t LogElapsedMilliseconds(const SLogContext* context)
{
    // Unsigned subtraction: the signed difference's bits without overflow.
    uint64_t ticks = static_cast<uint64_t>(g_LogSeams.m_CounterNow()) -
                     static_cast<uint64_t>(context->m_StartTime);
    double milliseconds = LogTicksToMilliseconds(ticks);
    // Truncation toward zero; only an absurdly slow counter could exceed the range.
    if (milliseconds >= 9.2e18)
        return INT64_MAX;
    return static_cast<int64_t>(milliseconds);
}

void LogWrite(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
              const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogWriteV(severity, channel, file, line, format, args);
    va_end(args);
}

uint32_t LogDroppedNestedWrites()
{
    return s_DroppedNestedWrites.load(std::memory_order_relaxed);
}

void LogWriteV(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
               const char* format, va_list args)
{
    if (t_LogWritingDepth >= LOG_MAX_NESTED_WRITES)
    {
        s_DroppedNestedWrites.fetch_add(1, std::memory_order_relaxed);
        t_LogDroppedNested = true;
        return;
    }
    // Both paths format the text: a missing format is an empty one.
    PLATFORM_ASSERT(format != 0 && "A log message needs a format!");
    if (format == nullptr)
        format = "";

    SLogContext* context = g_LogContext;
    if (context == nullptr)
    {
        if (LogForwardUninitialized(severity, channel, file, line, format, args))
            return;
        if (LogTapFunc tap = s_Tap.load(std::memory_order_acquire))
        {
            char plain[1024];
            va_list copy;
            va_copy(copy, args);
            if (std::vsnprintf(plain, sizeof(plain), format, copy) < 0)
                plain[0] = '\0';
            va_end(copy);
            tap(severity, channel != nullptr ? channel : "", plain);
        }
        LogWriteUninitialized(format, args);
        return;
    }

    PLATFORM_ASSERT(severity > E_LOG_NONE && "Writing log with value used internally by logger!!!");
    // The filters, the line and the callback read both texts: a missing one is empty.
    PLATFORM_ASSERT(channel != 0 && "A log message needs a channel!");
    PLATFORM_ASSERT(file != 0 && "A log message needs a source file!");
    if (channel == nullptr)
        channel = "";
    if (file == nullptr)
        file = "";

    // Formatting, the filters and the clock run in the writer's thread before any lock.
    char text[1024];
    if (std::vsnprintf(text, sizeof(text), format, args) < 0)
        text[0] = '\0';
    text[sizeof(text) - 1] = '\0';

    SLogMessage message;
    message.m_Context = context;
    message.m_Severity = severity;
    message.m_Channel = channel;
    message.m_File = file;
    message.m_Text = text;
    message.m_Passed = true;
    if (severity == E_LOG_VERBOSE)
        message.m_Passed =
            context->m_FileFilter.Matches(file) && context->m_ChannelFilter.Matches(channel);
    message.m_Line = line;
    message.m_Indentation = static_cast<uint32_t>(TLS_GLOBAL_GET_UINTPTR(g_log_indentation));
    // The clock is read only when something can see the time: a time stamp, the callback,
    // or a hook of the client's, which may read the record.
    const bool timed = context->m_Outputs[0].m_PrintTime || context->m_Outputs[1].m_PrintTime ||
                       context->m_Callback != nullptr ||
                       context->m_OutputHook != &LogDefaultOutputHook;
    message.m_ElapsedMs = timed ? LogElapsedMilliseconds(context) : 0;
    if (LogTapFunc tap = s_Tap.load(std::memory_order_acquire); tap != nullptr && message.m_Passed)
        tap(severity, channel, text);

    {
        CLogWritingScope writing;
        context->m_OutputHook(&LogOutputMessage, &message, context->m_OutputHookUserData);
    }
    // The outermost write reports the first drop of the module once, outside the path.
    if (t_LogDroppedNested && t_LogWritingDepth == 0)
    {
        t_LogDroppedNested = false;
        if (!s_DroppedNestedReported.exchange(true))
            LogWrite(E_LOG_ERROR, "LOGGER", __FILE__, __LINE__,
                     "Dropped %u log messages nested deeper than %u writes",
                     static_cast<unsigned>(LogDroppedNestedWrites()),
                     static_cast<unsigned>(LOG_MAX_NESTED_WRITES));
    }
}

// ---- output ----

struct SLogSeverityWord
{
    const char* m_Word;
    size_t m_Length;
};

// Each word is padded with blanks to 8 characters, so that it is copied with a fixed size.
static const size_t LOG_WORD_PADDED = 8;
static const SLogSeverityWord s_SeverityWords[] = {
    {"        ", 0}, {"ASSERT: ", 7}, {"ERROR:  ", 6},
    {"WARNING:", 8}, {"INFO:   ", 5}, {"VERBOSE:", 8},
};
static_assert(ARRAY_LENGTH(s_SeverityWords) == E_LOG_VERBOSE + 1, "one word per severity");

// The severity field is 24 columns, then one blank, then two blanks per level up to 5. The
// prefix is built from a template of the longest one, with fixed-size copies.
static const size_t LOG_SEVERITY_FIELD = 24;
static const size_t LOG_CHANNEL_TAG = 15;
static const uint32_t LOG_DEEPEST_LEVEL = 5;
static const size_t LOG_PREFIX_SIZE = 64;
static constexpr char s_Blanks[LOG_PREFIX_SIZE] = "                                   ";
static_assert(std::char_traits<char>::length(s_Blanks) ==
              LOG_SEVERITY_FIELD + 1 + 2 * LOG_DEEPEST_LEVEL);

void LogPrintToStream(FILE* stream, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    // The debugger copy formats the same arguments again, so the stream gets a copy.
    va_list debugArgs;
    va_copy(debugArgs, args);
    std::vfprintf(stream, format, args);
    if (stream == stdout)
    {
        char copy[2048];
        if (std::vsnprintf(copy, sizeof(copy), format, debugArgs) < 0)
            copy[0] = '\0';
        copy[sizeof(copy) - 1] = '\0';
        g_LogSeams.m_DebugOutput(copy);
    }
    va_end(debugArgs);
    va_end(args);
}

// The debugger's copy of one piece of a line, cut at 2,047 characters.
static void LogDebugPiece(const char* piece, size_t length)
{
    char copy[2048];
    length = length < sizeof(copy) - 1 ? length : sizeof(copy) - 1;
    std::memcpy(copy, piece, length);
    copy[length] = '\0';
    g_LogSeams.m_DebugOutput(copy);
}

// A piece of the line whose length is known when it is built.
struct SLogPiece
{
    const char* m_Text;
    size_t m_Length;
};

// One output's line, built once and written with one call, so that a flushed line costs a
// single write. The debugger gets the same two pieces as before: the text, then the end
// of the line. A line too long for the buffer (a very long file name, or a long text that
// a client's hook put in the record) goes piece by piece.
static void LogWriteLine(const SLogOutput& output, SLogPiece prefix, SLogPiece stamp,
                         const SLogMessage* message, size_t textLength)
{
    // Prefix, stamp and text are copied (the text is formatted already, for the callback);
    // only the file and line go through the formatter.
    char line[4096];
    static_assert(LOG_PREFIX_SIZE + 32 + 2 < sizeof(line), "the prefix and the stamp always fit");
    std::memcpy(line, prefix.m_Text, LOG_PREFIX_SIZE); // a fixed size: the rest is overwritten
    size_t head = prefix.m_Length;
    if (output.m_PrintTime)
    {
        std::memcpy(line + head, stamp.m_Text, stamp.m_Length);
        head += stamp.m_Length;
        line[head++] = ':';
        line[head++] = ' ';
    }
    int tail = -1;
    if (textLength < sizeof(line) - 1 - head)
    {
        std::memcpy(line + head, message->m_Text, textLength);
        head += textLength;
        if (!output.m_PrintFileAndLine)
        {
            line[head] = '\n';
            tail = 1;
        }
        else
            tail = std::snprintf(line + head, sizeof(line) - head, " %s(%u)\n", message->m_File,
                                 static_cast<unsigned>(message->m_Line));
    }
    if (tail < 0 || head + static_cast<size_t>(tail) >= sizeof(line))
    {
        if (output.m_PrintTime)
            LogPrintToStream(output.m_Stream, "%s%s: %s", prefix.m_Text, stamp.m_Text,
                             message->m_Text);
        else
            LogPrintToStream(output.m_Stream, "%s%s", prefix.m_Text, message->m_Text);
        if (output.m_PrintFileAndLine)
            LogPrintToStream(output.m_Stream, " %s(%u)\n", message->m_File,
                             static_cast<unsigned>(message->m_Line));
        else
            LogPrintToStream(output.m_Stream, "\n");
        return;
    }
    std::fwrite(line, 1, head + static_cast<size_t>(tail), output.m_Stream);
    if (output.m_Stream == stdout)
    {
        LogDebugPiece(line, head);
        LogDebugPiece(line + head, static_cast<size_t>(tail));
    }
}

void LogOutputMessage(SLogMessage* message)
{
    SLogContext* context = message->m_Context;
    ELogSeverity severity = message->m_Severity;

    // An unknown severity leaves the field blank and the channel tag at column 0.
    SLogSeverityWord word = s_SeverityWords[0];
    if (severity >= E_LOG_ASSERT && severity <= E_LOG_VERBOSE)
        word = s_SeverityWords[severity];
    else
        PLATFORM_ASSERT(false && "This is wrong!");

    char prefix[LOG_PREFIX_SIZE];
    std::memcpy(prefix, s_Blanks, sizeof(prefix));
    uint32_t level =
        message->m_Indentation < LOG_DEEPEST_LEVEL ? message->m_Indentation : LOG_DEEPEST_LEVEL;
    size_t length = LOG_SEVERITY_FIELD + 1 + 2 * level;
    prefix[length] = '\0';
    std::memcpy(prefix, word.m_Word, LOG_WORD_PADDED);
    size_t tag = 0;
    while (tag < LOG_CHANNEL_TAG && message->m_Channel[tag] != '\0')
    {
        prefix[word.m_Length + tag] = message->m_Channel[tag];
        ++tag;
    }
    prefix[word.m_Length + tag] = ':';

    // Held to the end of the callback: lines never interleave within a stream, the lookup
    // never meets a half-changed table and callback calls never overlap.
    CScopedMutexLock lock(context->m_Mutex);

    char stamp[32] = "";
    size_t stampLength = 0;
    uint64_t elapsed = static_cast<uint64_t>(message->m_ElapsedMs);
    if (context->m_Outputs[0].m_PrintTime || context->m_Outputs[1].m_PrintTime)
    {
        std::snprintf(stamp, sizeof(stamp), "%3d.%03d",
                      static_cast<int32_t>(static_cast<uint32_t>(elapsed / 1000)),
                      static_cast<int32_t>(static_cast<uint32_t>(elapsed % 1000)));
        stampLength = std::strlen(stamp);
    }

    if (message->m_Passed)
    {
        // The key borrows the channel's text: the lookup allocates nothing.
        const ELogSeverity* channelSeverity =
            context->m_ChannelSeverities.Size() != 0
                ? context->m_ChannelSeverities.Find(CLogString(message->m_Channel, false))
                : nullptr;
        const size_t textLength = std::strlen(message->m_Text);
        for (const SLogOutput& output : context->m_Outputs)
        {
            ELogSeverity threshold =
                channelSeverity != nullptr ? *channelSeverity : output.m_Severity;
            if (threshold < severity || output.m_Stream == nullptr)
                continue;
            LogWriteLine(output, {prefix, length}, {stamp, stampLength}, message, textLength);
            std::fflush(output.m_Stream);
        }
    }

    if (context->m_Callback != nullptr)
        context->m_Callback(severity, message->m_Channel, message->m_File, message->m_Text,
                            message->m_Passed, message->m_Line, message->m_Indentation,
                            message->m_ElapsedMs, context->m_CallbackUserData);
}
