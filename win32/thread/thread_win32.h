// Seams of the Windows thread unit: the processor information query, so tests can present a
// machine other than this one. Per-OS, internal (not installed).
#pragma once

#include <windows.h>

struct SThreadOsSeams
{
    // GetLogicalProcessorInformation by default.
    BOOL(WINAPI* m_GetLogicalProcessorInformation)
    (PSYSTEM_LOGICAL_PROCESSOR_INFORMATION buffer, PDWORD length);
};
extern SThreadOsSeams g_ThreadOsSeams;
