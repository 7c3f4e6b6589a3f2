// The log context that LogInit builds and LogShutdown destroys, its substring filters, the
// record of one message on its way to the outputs, and the output routines. For code that
// installs an output hook or inspects the log's state. Portable.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/debug/log.h"
#include "common/debug/log_string.h"

struct ThreadMutex;

struct SLogFilter
{
    char m_Text[512]; // at most 511 characters and the terminator
    ELogFilterMode m_Mode;

    // Keeps the first 511 characters of a longer text and warns on channel "LOGGER".
    void Set(const char* text, ELogFilterMode mode);
    void Clear(); // empty text, include mode: everything passes
    bool Matches(const char* subject) const;
};

struct SLogContext
{
    SLogOutput m_Outputs[2];
    LogCallback m_Callback;
    void* m_CallbackUserData;
    LogOutputHook m_OutputHook; // never null
    void* m_OutputHookUserData;
    SLogFilter m_FileFilter;                      // tested on the file path of verbose messages
    SLogFilter m_ChannelFilter;                   // then on their channel name
    CLogChannelSeverityTable m_ChannelSeverities; // guarded by m_Mutex
    ThreadMutex* m_Mutex;
    int64_t m_StartTime; // counter value at construction: the zero of the time stamps

    // Needs g_LogAllocator set: the table takes its memory from it.
    SLogContext();
    ~SLogContext();
    SLogContext(const SLogContext&) = delete;
    SLogContext& operator=(const SLogContext&) = delete;

    // Back to the default outputs, no callback, no filters, calling thread at level 0.
    // Keeps the hook, the table, the mutex and the start time.
    void Reset();
};

// One message, built on the writer's stack; it lives until the write returns.
struct SLogMessage
{
    SLogContext* m_Context;
    ELogSeverity m_Severity;
    const char* m_Channel;
    const char* m_File;
    const char* m_Text; // formatted, at most 1023 characters
    bool m_Passed;      // the filters' verdict
    uint32_t m_Line;
    uint32_t m_Indentation;
    int64_t m_ElapsedMs;
};

// Writes the message to the outputs and hands it to the callback, under the context's
// mutex so that lines of different threads never interleave.
void LogOutputMessage(SLogMessage* message);
// Writes to the stream; text for standard output is copied to the debugger output too.
// Does not flush.
void LogPrintToStream(FILE* stream, const char* format, ...) LOG_PRINTF_FORMAT(2, 3);

// The log's clock and debugger output, replaceable so that tests can fix the elapsed
// time and see the debugger copy where the OS has no debugger output. Defaults: the
// performance counter and the OS debugger output.
struct SLogSeams
{
    int64_t (*m_CounterNow)();
    void (*m_DebugOutput)(const char* text);
};
extern SLogSeams g_LogSeams;
