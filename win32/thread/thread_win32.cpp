// Thread operations that need the OS, on Windows. Per-OS.
#include "common/thread/thread.h"

#include <windows.h>

uint32_t ThreadGetCurrentId()
{
    return GetCurrentThreadId();
}
