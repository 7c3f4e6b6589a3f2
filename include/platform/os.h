// The narrow interface between portable code and the operating system. The per-OS
// folders (win32/, posix/) implement every function here; portable code (common/,
// profile/) reaches the OS only through it. Internal: not installed for clients.
#pragma once

#include <cstddef>
#include <cstdint>

// Thread-local storage slots. OsTlsAlloc returns a slot whose value is 0 in every
// thread, or OS_TLS_INVALID when none is free; slots are never released.
constexpr uint32_t OS_TLS_INVALID = 0xFFFFFFFFu;
uint32_t OsTlsAlloc();
uintptr_t OsTlsGet(uint32_t slot);
void OsTlsSet(uint32_t slot, uintptr_t value);

// Sleeps alertably (an APC or I/O completion may end it early where the OS has them).
void OsSleep(uint32_t milliseconds);
// Gives the rest of the time slice to another ready thread.
void OsYield();

// High-resolution counter: ticks per second (the same value on every call; the first call
// may wait for a calibration to end) and a description of the counter and of its frequency's
// source. The read itself, GetCounterTicks, is in the per-OS header platform/counter_os.h.
uint64_t OsCounterFrequency();
const char* OsCounterName();

// The debugger's text output; dropped where the OS has none.
void OsDebugOutput(const char* text);
// Breaks into an attached debugger; without one the process ends.
void OsDebugBreak();

// The C runtime's aligned heap: any power-of-two alignment, null on exhaustion.
void* OsAlignedAlloc(size_t size, size_t alignment);
void OsAlignedFree(void* block);

// Shared libraries loaded at run time: null when the module cannot be loaded. Unloading
// runs the module's static destructors before it returns.
void* OsModuleLoad(const char* path);
void OsModuleUnload(void* module);
// A loaded module's exported function by name; null when it has none.
typedef void (*OsModuleFunc)();
OsModuleFunc OsModuleEntry(void* module, const char* name);
// Whether the module with that path is still in the process: the file's mapping on POSIX
// (a module pinned by the loader stays mapped after dlclose), the loader's list on Windows.
bool OsModuleMapped(const char* path);

// ---- the OS steps of the thread layer, implemented by the per-OS thread units ----

struct ThreadImpl;

// Fills an adopted object's m_Thread with a handle that stands for the calling thread from
// any thread, and its m_ThreadId with the calling thread's id.
void OsThreadAdoptCurrent(ThreadImpl* thread);
// Gives back what OsThreadAdoptCurrent took from the OS, before the object is freed.
void OsThreadReleaseAdopted(ThreadImpl* thread);
// Sets a thread's priority relative to normal (-1, 0, 1); a refusal is not reported.
void OsThreadSetPriority(ThreadImpl* thread, int32_t os_priority);
// Reads a thread's priority relative to normal; false when it cannot be read.
bool OsThreadGetPriority(ThreadImpl* thread, int32_t* os_priority);
// Binds a thread to the processors of a non-empty mask; returns the previous mask, or 0
// when the OS refuses.
uint64_t OsThreadSetAffinityMask(ThreadImpl* thread, uint64_t affinity_mask);
// Sets a thread's ideal processor (0..63); returns the previous one, or -1 when refused.
int OsThreadSetIdealProcessor(ThreadImpl* thread, int32_t ideal_proc);
