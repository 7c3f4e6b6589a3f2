// The OS interface of platform/os.h on POSIX: pthread keys for TLS slots, nanosleep and
// sched_yield, posix_memalign, dlopen. The counter is counter_posix.cpp's. Per-OS.
#include "platform/os.h"

#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sched.h>

uint32_t OsTlsAlloc()
{
    // A new pthread key reads null in every thread, as a fresh TLS slot reads 0.
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0 || static_cast<uint32_t>(key) == OS_TLS_INVALID)
        return OS_TLS_INVALID;
    return static_cast<uint32_t>(key);
}

uintptr_t OsTlsGet(uint32_t slot)
{
    return reinterpret_cast<uintptr_t>(pthread_getspecific(static_cast<pthread_key_t>(slot)));
}

void OsTlsSet(uint32_t slot, uintptr_t value)
{
    pthread_setspecific(static_cast<pthread_key_t>(slot), reinterpret_cast<void*>(value));
}

void OsSleep(uint32_t milliseconds)
{
    // A signal handler ends the sleep early, the nearest POSIX match to an alertable wait.
    timespec request;
    request.tv_sec = static_cast<time_t>(milliseconds / 1000);
    request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    nanosleep(&request, nullptr);
}

void OsYield()
{
    sched_yield();
}

void OsDebugOutput(const char* /*text*/)
{
    // POSIX has no debugger output channel; the copy is dropped.
}

void OsDebugBreak()
{
    std::raise(SIGTRAP);
}

void* OsAlignedAlloc(size_t size, size_t alignment)
{
    // posix_memalign wants a multiple of the pointer size; smaller powers of two are
    // satisfied by that too.
    if (alignment < sizeof(void*))
        alignment = sizeof(void*);
    void* block = nullptr;
    return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
}

void OsAlignedFree(void* block)
{
    std::free(block);
}

void* OsModuleLoad(const char* path)
{
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void OsModuleUnload(void* module)
{
    dlclose(module);
}

OsModuleFunc OsModuleEntry(void* module, const char* name)
{
    return reinterpret_cast<OsModuleFunc>(dlsym(module, name));
}

bool OsModuleMapped(const char* path)
{
    FILE* maps = std::fopen("/proc/self/maps", "r");
    char line[4096];
    bool mapped = false;
    while (maps != nullptr && !mapped && std::fgets(line, sizeof(line), maps) != nullptr)
        mapped = std::strstr(line, path) != nullptr;
    if (maps != nullptr)
        std::fclose(maps);
    return mapped;
}
