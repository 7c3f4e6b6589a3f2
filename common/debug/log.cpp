// The log: its write entry and, while the module's log is uninitialised, the plain
// fallback on the standard error stream. Portable.
#include "common/debug/log.h"

#include <atomic>
#include <cstdio>

SLogContext* g_LogContext = nullptr;

// Set once the uninitialised notice has been printed; never cleared. The exchange makes
// the notice appear once per module even when two threads write the first message.
static std::atomic<bool> s_UninitializedNoticeWritten{false};

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

void LogWrite(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
              const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogWriteV(severity, channel, file, line, format, args);
    va_end(args);
}

void LogWriteV(ELogSeverity /*severity*/, const char* /*channel*/, const char* /*file*/,
               uint32_t /*line*/, const char* format, va_list args)
{
    // The initialised path (formatting, filters, outputs) comes with LogInit.
    LogWriteUninitialized(format, args);
}
