// The module's assertion handler pointer and the report behind PLATFORM_ASSERT. Portable.
#include "common/debug/assert.h"

#include "platform/os.h"

AssertHandlerFunc AssertHandler = nullptr;

bool AssertReport(const char* file, int line, const char* expression)
{
    AssertHandlerFunc handler = AssertHandler;
    return handler == nullptr || handler(file, line, expression);
}

void AssertBreak()
{
    OsDebugBreak();
}
