// Thread operations that need the OS, on POSIX. Per-OS.
#include "common/thread/thread.h"

#include <sys/syscall.h>
#include <unistd.h>

uint32_t ThreadGetCurrentId()
{
    // The kernel's thread id, what debuggers and /proc show for the thread.
    return static_cast<uint32_t>(syscall(SYS_gettid));
}
