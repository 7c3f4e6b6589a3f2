// Fake machines for the thread tests. Per-OS by necessity: each half fills its own thread
// unit's seam.
#include "thread_os_support.h"

#if defined(_WIN32)
#include "thread/thread_win32.h"

static uint32_t s_FakeCores, s_FakeThreadsPerCore;

// A core record and a cache record per core. As with the real call, too small a buffer
// fails with ERROR_INSUFFICIENT_BUFFER and the length needed.
static BOOL WINAPI FakeProcessorInformation(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION records,
                                            PDWORD length)
{
    const DWORD count = 2 * s_FakeCores, room = *length / sizeof(*records);
    const ULONG_PTR mask = static_cast<ULONG_PTR>((1ull << s_FakeThreadsPerCore) - 1);
    for (DWORD index = 0; count <= room && index < count; ++index)
        records[index] = {mask, index % 2 ? RelationCache : RelationProcessorCore, {}};
    *length = count * sizeof(*records);
    SetLastError(count <= room ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return count <= room;
}

CFakeMachine::CFakeMachine(uint32_t cores, uint32_t threads_per_core)
{
    s_FakeCores = cores;
    s_FakeThreadsPerCore = threads_per_core;
    g_ThreadOsSeams.m_GetLogicalProcessorInformation = &FakeProcessorInformation;
}

CFakeMachine::~CFakeMachine()
{
    g_ThreadOsSeams.m_GetLogicalProcessorInformation = &GetLogicalProcessorInformation;
}

#else
#include "thread/thread_posix.h"
#include <cstdlib>
#include <filesystem>
#include <fstream>

CFakeMachine::CFakeMachine(uint32_t cores, uint32_t threads_per_core)
{
    char pattern[] = "/tmp/fake-cpu-XXXXXX";
    m_Root = mkdtemp(pattern);
    const uint32_t processors = cores * threads_per_core;
    std::ofstream(m_Root + "/online") << "0-" << processors - 1 << "\n";
    for (uint32_t cpu = 0; cpu < processors; ++cpu)
    {
        const uint32_t first = cpu / threads_per_core * threads_per_core;
        const std::string topology = m_Root + "/cpu" + std::to_string(cpu) + "/topology";
        std::filesystem::create_directories(topology);
        // Odd processors carry only the older file name, as kernels before 5.x do.
        std::ofstream(topology + (cpu % 2 ? "/thread_siblings_list" : "/core_cpus_list"))
            << first << "-" << first + threads_per_core - 1 << "\n";
    }
    g_ThreadOsSeams.m_CpuRoot = m_Root.c_str();
}

CFakeMachine::~CFakeMachine()
{
    g_ThreadOsSeams.m_CpuRoot = "/sys/devices/system/cpu";
    std::error_code ignored;
    std::filesystem::remove_all(m_Root, ignored);
}
#endif
