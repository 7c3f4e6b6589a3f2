// The kit's per-OS part on POSIX: the file name of the module that holds an address (for the
// report's module table), the kernel's name of the calling thread (15 characters), the
// process id and a file's atomic replacement by rename. Per-OS.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "kit/kit_private.h"

bool ProfilerKitOsModuleName(const void* address, char* buffer, size_t size)
{
    Dl_info info;
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return false;
    const char* slash = std::strrchr(info.dli_fname, '/');
    std::snprintf(buffer, size, "%s", slash != nullptr ? slash + 1 : info.dli_fname);
    return buffer[0] != '\0';
}

bool ProfilerKitOsThreadName(char* buffer, size_t size)
{
    return pthread_getname_np(pthread_self(), buffer, size) == 0;
}

uint32_t ProfilerKitOsProcessId()
{
    return static_cast<uint32_t>(getpid());
}

bool ProfilerKitOsReplaceFile(const char* from, const char* to)
{
    return std::rename(from, to) == 0;
}
