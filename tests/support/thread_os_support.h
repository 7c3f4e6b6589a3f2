// What the thread tests read from the OS with its own calls, and fake machines presented
// through the thread unit's seams. Per-OS halves in thread_os_support.cpp.
#pragma once

#include <cstdint>
#include <string>

struct ThreadImpl;

// A thread's affinity mask as the OS reports it (its low 64 bits; Windows has no read but
// setting one and taking the previous mask back).
uint64_t OsThreadAffinity(ThreadImpl* thread);

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
