// The log's public interface: the severity scale, the write entry, the set-up and
// tear-down of a module's log, its settings, per-channel thresholds and per-thread
// indentation. While the module's log is uninitialised, messages are printed plainly on
// the standard error stream. Portable.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

struct SAllocator;
struct SLogContext;
struct SLogMessage;

// Lower is more severe. An output with threshold T writes severities up to T.
enum ELogSeverity : int32_t
{
    E_LOG_NONE = 0, // internal only: never a message's severity; as a threshold, "off"
    E_LOG_ASSERT = 1,
    E_LOG_ERROR = 2,
    E_LOG_WARNING = 3,
    E_LOG_INFO = 4,
    E_LOG_VERBOSE = 5,
};

// How a substring filter judges a subject; the filters apply to verbose messages only.
enum ELogFilterMode : int32_t
{
    E_LOG_FILTER_INCLUDE = 0, // passes when the subject contains the text
    E_LOG_FILTER_EXCLUDE = 1, // passes when it does not
};

// The module's log context; null while the log is uninitialised.
extern SLogContext* g_LogContext;
// The allocator given to LogInit, through which the log takes all its memory; null while
// the log is uninitialised.
extern SAllocator* g_LogAllocator;

// Stands for the process's standard output stream in the records given to LogInit, which
// puts the real stream in its place. The C library only hands out its standard output at
// run time (glibc from a variable, the Windows runtimes from a call), so a record that a
// client's static constructor may read before any initialiser of this library has run
// names the stream this way and stays constant data. Not a stream to write to.
extern FILE g_LogStandardOutput;
#define LOG_STANDARD_OUTPUT (&g_LogStandardOutput)

// One output: the stream its lines go to (may be null) and what a line carries.
struct SLogOutput
{
    FILE* m_Stream;          // a stream, LOG_STANDARD_OUTPUT or null
    ELogSeverity m_Severity; // E_LOG_NONE turns the output off
    bool m_PrintFileAndLine; // end each line with " file(line)"
    bool m_PrintTime;        // put "sss.mmm: " before the message text
};

// Standard output, warnings and worse, no time stamp, no file and line. Constant data:
// valid from the process's first instruction, also in a client's static constructor.
extern SLogOutput g_DefaultLogOutput;

struct SLogInitParams
{
    SAllocator* m_Allocator;  // required
    SLogOutput* m_Outputs[2]; // each may be null; an output without a stream stays off

    // The log's default allocator, output 0 = g_DefaultLogOutput, output 1 off.
    SLogInitParams();
};

// Called for every message that reaches the output routine, also for those that the
// filters rejected (passed == false) or that no output wrote. The result is ignored.
typedef bool (*LogCallback)(ELogSeverity severity, const char* channel, const char* file,
                            const char* text, bool passed, uint32_t line, uint32_t indentation,
                            int64_t elapsedMs, void* userData);

// The routine that writes one message record to the outputs and the callback.
typedef void (*LogOutputFunc)(SLogMessage* message);
// Stands between the writer and the output routine; it must call output(message) before it
// returns, because the record lives on the writer's stack.
typedef void (*LogOutputHook)(LogOutputFunc output, SLogMessage* message, void* userData);

#if defined(__GNUC__)
#define LOG_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LOG_PRINTF_FORMAT(fmt, args)
#endif

// Takes the messages of a module whose log is uninitialised, before the plain fallback;
// returns true when it delivered the message, false to let the fallback print it.
typedef bool (*LogForwardFunc)(ELogSeverity severity, const char* channel, const char* file,
                               uint32_t line, const char* format, va_list args);
// Installs the module's forwarding (null removes it); any thread may write meanwhile.
void LogSetForward(LogForwardFunc forward);
// Sees each line this module's log writes: those that pass the filters, and the plain
// lines of the uninitialised log that no forwarding took. Called on the writing thread
// before the outputs; the profiler's capture records lines through it.
typedef void (*LogTapFunc)(ELogSeverity severity, const char* channel, const char* text);
// Installs the module's tap (null removes it); any thread may write meanwhile.
void LogSetTap(LogTapFunc tap);

// A null format is asserted and written as the empty text. A null channel or file is
// asserted on an initialised log and written as the empty text; the uninitialised log does
// not read them.
void LogWrite(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
              const char* format, ...) LOG_PRINTF_FORMAT(5, 6);
void LogWriteV(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
               const char* format, va_list args);
// A write from inside the log's output path (a callback or hook that writes, or a failed
// check reported to the log) nests. At most 4 writes are in the path on one thread at
// once: a fifth, nested in them, is dropped, so a callback that writes on every message
// cannot recurse without end. The module's first drop is reported once on channel
// "LOGGER", by the outermost write; this counts every drop.
uint32_t LogDroppedNestedWrites();

// Set-up and tear-down. None of these take a lock: no other thread may write to the log
// while one of them runs.
void LogInit(const SLogInitParams& initParams);
bool LogInitialized();
// Flushes the outputs and frees the log. From the log's own output path on the writing
// thread (a callback or an output hook) it is refused with an assertion and changes
// nothing, since that write still holds the log's mutex; shut down after the write.
void LogShutdown();

void LogSetCallback(LogCallback callback, void* userData);
void LogSetOutputHook(LogOutputHook hook, void* userData); // hook must not be null
void LogDefaultOutputHook(LogOutputFunc output, SLogMessage* message, void* userData);
// A null text clears that filter (its mode is then ignored). Texts are cut to 511 chars.
void LogSetFilters(const char* fileFilter, ELogFilterMode fileFilterMode, const char* channelFilter,
                   ELogFilterMode channelFilterMode);

// Give a channel its own threshold on both outputs, or take it away. The log keeps its own
// copy of the name.
void LogSetChannelSeverity(const char* channel, ELogSeverity severity);
void LogRemoveChannelSeverity(const char* channel);

// The calling thread's indentation level; it works whether or not the log is initialised.
void LogIndent();
void LogUnindent(); // no floor: at 0 the level wraps and shows as the deepest indentation

// Writes its message at the current level, then indents the thread's later lines one level
// deeper until LogUnindent takes the level back. The object holds nothing and undoes
// nothing when it goes: callers pair it with LogUnindent themselves.
class CLogScope
{
public:
    CLogScope(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
              const char* format, ...) LOG_PRINTF_FORMAT(6, 7);
    CLogScope(const CLogScope&) = delete;
    CLogScope& operator=(const CLogScope&) = delete;
};

// The assertion handler that LogInit installs when none is: writes the failure to the log
// on channel "ASSERT" and asks for the debugger break (returns true).
bool LogDefaultAssertHandler(const char* file, int line, const char* expression);

// Performance-counter ticks to milliseconds, the time base of the time stamps.
double LogTicksToMilliseconds(uint64_t ticks);
