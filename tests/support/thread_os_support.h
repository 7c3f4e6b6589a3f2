// Fake machines presented to the thread tests through the thread unit's seams. Per-OS
// halves in thread_os_support.cpp.
#pragma once

#include <cstdint>
#include <string>

// Presents a machine of cores x threads_per_core processors to ThreadGetNumProcessors for
// its lifetime. On Windows a cache record follows every core record, so more than 20 cores
// need more than the fixed buffer of processor records.
class CFakeMachine
{
public:
    CFakeMachine(uint32_t cores, uint32_t threads_per_core);
    ~CFakeMachine();

private:
    std::string m_Root;
};
