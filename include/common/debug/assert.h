// The platform layer's assertion: reports the failed condition's source text, file and
// line to the module's AssertHandler, and breaks into the debugger when there is no
// handler or the handler asks for it. Portable.
#pragma once

// Returns true when the failing check should break into the debugger.
typedef bool (*AssertHandlerFunc)(const char* file, int line, const char* expression);

// One per module (each module that links the platform layer has its own); null at load.
extern AssertHandlerFunc AssertHandler;

// Reports a failed check; true means "break now".
bool AssertReport(const char* file, int line, const char* expression);
void AssertBreak();

// Execution continues after the check when the handler returns false (or a debugger
// resumes), so code after an assertion must stay safe for that case.
#define PLATFORM_ASSERT(condition)                                                                 \
    do                                                                                             \
    {                                                                                              \
        if (!(condition) && AssertReport(__FILE__, __LINE__, #condition))                          \
            AssertBreak();                                                                         \
    } while (0)

#define ARRAY_LENGTH(array) (sizeof(array) / sizeof((array)[0]))
