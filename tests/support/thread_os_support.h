// OS facts that the thread tests compare the platform layer against, read with the OS's
// own calls, and fake machines presented through the thread unit's seams.
#pragma once

#include <cstdint>
#include <string>

struct ThreadImpl;

// Whether this process may raise a thread above normal priority (always on Windows; on
// POSIX only with CAP_SYS_NICE or a permissive RLIMIT_NICE).
bool OsMayRaiseThreadPriority();
// The name that the OS keeps for the calling thread (Windows: its description, empty on
// systems without one), and how many characters of a name it keeps.
std::string OsCurrentThreadName();
size_t OsThreadNameLimit();
// Calls ThreadAnnounceName and returns the name as received: on Windows by a vectored
// handler watching for a well-formed naming exception for that thread id (empty if none was
// raised), on POSIX the kernel's name of that thread.
std::string OsAnnouncedName(uint32_t thread_id, const char* name);
// Waits for a created thread to end and reads its exit code; ThreadDestroy then only frees.
bool OsTakeThreadExitCode(ThreadImpl* thread, uint32_t* exit_code);
// True under wine, which keeps no ideal processor.
bool OsIsWine();
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
