// OS facts that the thread tests compare the platform layer against, read with the OS's
// own calls, and fake machines presented through the thread unit's seams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// A thread's affinity mask as the OS reports it (its low 64 bits; Windows has no read but
// setting one and taking the previous mask back).
uint64_t OsThreadAffinity(ThreadImpl* thread);
// Gives every thread of the process this mask behind the platform layer's back, as an
// administrator does: taskset -a -p on Linux, SetProcessAffinityMask on Windows.
void OsSetProcessAffinity(uint64_t mask);

// Presents, for its lifetime, a machine of 128 processors on which every thread may use
// the given processors, through the thread unit's affinity seams; a mask set on a thread
// is kept for that thread. Active() is false where the OS unit has no such seams.
class CFakeAffinity
{
public:
    explicit CFakeAffinity(const std::vector<unsigned>& allowed);
    ~CFakeAffinity();
    bool Active() const;
    // The processors that a thread (by OS id) may use.
    std::vector<unsigned> Allowed(uint32_t thread_id) const;
};

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
