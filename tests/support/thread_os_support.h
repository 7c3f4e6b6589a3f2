// OS facts that the thread tests compare the platform layer against, read with the OS's
// own calls, and fake machines presented through the thread unit's seams.
#pragma once

#include <cstdint>
#include <string>

struct ThreadImpl;

// Whether this process may raise a thread above normal priority (always on Windows; on
// POSIX only with CAP_SYS_NICE or a permissive RLIMIT_NICE).
bool OsMayRaiseThreadPriority();

// The name that the OS keeps for the calling thread: the thread description on Windows
// (empty where the system has none), the kernel's name on POSIX.
std::string OsCurrentThreadName();
// How many characters of a name the OS keeps (15 on Linux).
size_t OsThreadNameLimit();

// Waits for a created thread to end and reads its exit code; afterwards ThreadDestroy only
// frees the object.
bool OsTakeThreadExitCode(ThreadImpl* thread, uint32_t* exit_code);

// True under wine, which implements a few calls differently from Windows.
bool OsIsWine();

// The machine's cores and logical processors, read independently of the platform layer;
// false when the OS does not tell.
bool OsCountCores(uint32_t* cores, uint32_t* logical);

// Presents a machine of cores x threads_per_core processors to ThreadGetNumProcessors
// until the object is destroyed. On Windows the records need more than the fixed buffer
// whenever cores > 20, with a cache record after every core record.
class CFakeMachine
{
public:
    CFakeMachine(uint32_t cores, uint32_t threads_per_core);
    ~CFakeMachine();
    CFakeMachine(const CFakeMachine&) = delete;
    CFakeMachine& operator=(const CFakeMachine&) = delete;
    // How often the OS query was called (Windows only; 0 on POSIX).
    int Queries() const;

private:
    std::string m_Root;
};

// Sets a thread's OS priority one step outside the range that EThreadPriority maps (below
// its low priority), which needs no privilege.
void OsSetPriorityOutsideRange(ThreadImpl* thread);

// Calls ThreadAnnounceName(thread_id, name) and returns the name as the OS or a debugger
// received it: on Windows the name of the naming exception, seen by a vectored handler
// (empty when no exception with a well-formed record for thread_id was raised); on POSIX
// the kernel's name of that thread.
std::string OsAnnouncedName(uint32_t thread_id, const char* name);
