// The log's write entry and severity scale. Every diagnostic message of the system goes
// through LogWrite; while the module's log is uninitialised it is printed plainly on the
// standard error stream. Portable.
#pragma once

#include <cstdarg>
#include <cstdint>

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

struct SLogContext;

// The module's log context; null while the log is uninitialised.
extern SLogContext* g_LogContext;

#if defined(__GNUC__)
#define LOG_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LOG_PRINTF_FORMAT(fmt, args)
#endif

void LogWrite(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
              const char* format, ...) LOG_PRINTF_FORMAT(5, 6);
void LogWriteV(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
               const char* format, va_list args);
