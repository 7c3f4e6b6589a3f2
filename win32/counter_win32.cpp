// The performance counter on Windows: QueryPerformanceCounter and its frequency as the OS
// reports it; the OS already picks the best invariant source. Per-OS.
#include "common/time/counter.h"
#include "platform/os.h"

#include <windows.h>

uint64_t OsCounterFrequency()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}

const char* OsCounterName()
{
    return "QueryPerformanceCounter";
}

int64_t GetCounterTicks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}
