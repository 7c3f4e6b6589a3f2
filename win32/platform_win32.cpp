// The OS interface of platform/os.h on Windows: TLS slots, alertable sleep, the debugger
// output and the CRT's aligned heap. The counter is counter_win32.cpp's. Per-OS.
#include "platform/os.h"

#include <malloc.h>
#include <windows.h>

static_assert(TLS_OUT_OF_INDEXES == OS_TLS_INVALID, "TlsAlloc's failure value");

uint32_t OsTlsAlloc()
{
    // Windows zeroes a new slot's value in every thread.
    return TlsAlloc();
}

uintptr_t OsTlsGet(uint32_t slot)
{
    return reinterpret_cast<uintptr_t>(TlsGetValue(slot));
}

void OsTlsSet(uint32_t slot, uintptr_t value)
{
    TlsSetValue(slot, reinterpret_cast<void*>(value));
}

void OsSleep(uint32_t milliseconds)
{
    SleepEx(milliseconds, TRUE);
}

void OsYield()
{
    SwitchToThread();
}

void OsDebugOutput(const char* text)
{
    OutputDebugStringA(text);
}

void OsDebugBreak()
{
    DebugBreak();
}

void* OsAlignedAlloc(size_t size, size_t alignment)
{
    return _aligned_malloc(size, alignment);
}

void OsAlignedFree(void* block)
{
    _aligned_free(block);
}

void* OsModuleLoad(const char* path)
{
    return reinterpret_cast<void*>(LoadLibraryA(path));
}

void OsModuleUnload(void* module)
{
    FreeLibrary(reinterpret_cast<HMODULE>(module));
}

OsModuleFunc OsModuleEntry(void* module, const char* name)
{
    return reinterpret_cast<OsModuleFunc>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

bool OsModuleMapped(const char* path)
{
    return GetModuleHandleA(path) != NULL;
}
