// The kit's per-OS part on POSIX (ELF): the module's record array between the linker's
// __start_/__stop_ symbols of its section, the kernel's name of the calling thread (15
// characters), the process id, the module's file (dladdr) and a file's atomic replacement by
// rename. Per-OS.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "kit/kit_private.h"

#if !defined(__GNUC__)
#error "ELF record sections need GCC or Clang"
#endif

// Hidden, so that each module sees its own section; weak, so that a module without
// records links and reads an empty array.
extern "C" SProfilerStaticScope __start_pcscopes[] __attribute__((weak, visibility("hidden")));
extern "C" SProfilerStaticScope __stop_pcscopes[] __attribute__((weak, visibility("hidden")));

void ProfilerKitModuleRecords(SProfilerStaticScope** begin, SProfilerStaticScope** end)
{
    *begin = __start_pcscopes;
    *end = __stop_pcscopes;
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

bool ProfilerKitOsModulePath(char* buffer, size_t size)
{
    Dl_info info;
    if (size == 0 || dladdr(reinterpret_cast<void*>(&ProfilerKitOsModulePath), &info) == 0 ||
        info.dli_fname == nullptr)
        return false;
    std::strncpy(buffer, info.dli_fname, size - 1);
    buffer[size - 1] = '\0';
    return true;
}
