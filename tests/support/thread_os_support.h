// OS facts that the thread tests compare the platform layer against, read with the OS's
// own calls, and fake machines presented through the thread unit's seams.
#pragma once

#include <cstdint>
#include <string>

struct ThreadImpl;

// Whether this process may raise a thread above normal priority (always on Windows; on
// POSIX only with CAP_SYS_NICE or a permissive RLIMIT_NICE).
bool OsMayRaiseThreadPriority();
// A thread's priority relative to normal as the OS reports it: -1, 0 or 1 (POSIX: the
// process's nice value minus the thread's).
int OsThreadPriority(ThreadImpl* thread);
// The name that the OS keeps for the calling thread, and the part of a name that it keeps
// (POSIX: 15 characters; Windows: all, or nothing without thread descriptions).
std::string OsCurrentThreadName();
std::string OsKeptName(const std::string& name);
// Waits for a created thread to end and returns its exit code (1 when it cannot be waited
// for); ThreadDestroy then only frees.
uint32_t OsTakeThreadExitCode(ThreadImpl* thread);
// Cores and logical processors read independently of the platform layer (/proc/cpuinfo);
// false where the OS does not tell that way.
bool OsCountCores(uint32_t* cores, uint32_t* logical);

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
