// Thread objects, the queries about the calling thread, and creating, configuring, naming
// and adopting threads. Portable interface; the parts that talk to the OS live in
// win32/thread/thread_win32 and posix/thread/thread_posix.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/thread/synchronization.h"

typedef void (*ThreadEntryFunc)(void* arg);
typedef void (*ThreadInitCallbackFunc)(void* arg);

// A thread that the platform layer knows, created or adopted. m_Thread is the OS handle
// (a HANDLE, or a pthread_t widened to a pointer). m_ThreadId is the OS thread id; on
// POSIX it is the kernel's thread id, which the thread writes itself when it starts (or
// adopts an object), because POSIX names and prioritises threads by it.
struct ThreadImpl
{
    ThreadImpl(ThreadEntryFunc entry, void* arg, void* initCallbackArg,
               ThreadInitCallbackFunc initCallback)
        : m_Entry(entry), m_Arg(arg), m_InitCallbackArg(initCallbackArg),
          m_InitCallback(initCallback)
    {
    }

    void* m_Thread = nullptr;
    ThreadEntryFunc m_Entry;
    void* m_Arg;
    uint32_t m_ThreadId = 0;
    char m_Name[128] = {};
    void* m_InitCallbackArg;
    ThreadInitCallbackFunc m_InitCallback;
};

// The calling thread's object, 0 when it has none.
TLS_GLOBAL_DECLARE(g_current_thread);

// The fallback name of threads without an object.
#define THREAD_UNKNOWN_NAME "Unknown Thread (Function temporarily disabled for Win32)"

ThreadImpl* ThreadGetCurrent();
// The same without taking a thread-local slot: null while this module's thread layer has
// stored no object for any thread. For code that only looks, such as a plug-in naming a
// thread, so that loading and unloading it leaks no slot.
ThreadImpl* ThreadPeekCurrent();
// The calling thread's object's name, or the fallback text; never null.
const char* ThreadGetCurrentName();
// The same, as a second entry point for tables that need a distinct address.
const char* ThreadGetCurrentThreadName();
const char* ThreadGetName(ThreadImpl* thread);
// Name lookup by the OS is disabled: always the fallback text.
const char* ThreadLookupName();
// The calling thread's OS id.
uint32_t ThreadGetCurrentId();

// ---- creation, configuration, adoption ----

// Relative priorities, mapped to the OS's below-normal, normal and above-normal.
enum EThreadPriority : int32_t
{
    E_THREAD_PRIORITY_LOW = 0,
    E_THREAD_PRIORITY_NORMAL = 1,
    E_THREAD_PRIORITY_HIGH = 2,
    E_THREAD_PRIORITY_COUNT
};

// One record of a thread configuration table. A table ends with a record whose m_Name is
// null; that last record also configures every name that no earlier record matches.
// Applications that supply their own table lay records out this way.
struct SThreadConfigEntry
{
    const char* m_Name;                    // matched exactly (case-sensitive); null: last record
    EThreadPriority m_Priority;            // priority given to the thread
    int32_t m_Processor;                   // processor to bind to, negative for none
    void* m_InitCallbackArg;               // copied into the thread object
    ThreadInitCallbackFunc m_InitCallback; // runs first in a created thread, may be null
};

// Holder of a table; the default one points at the built-in table, whose only record gives
// every name normal priority, no processor and no init callback.
struct SThreadConfigTable
{
    SThreadConfigTable();
    const SThreadConfigEntry* m_Entries;
};

// Creates a thread that runs the name's init callback, then entry(arg). Its handle, name
// and priority are in place before any of its own code runs. The stack size is rounded as
// ThreadRoundStackSize says. Returns the object also when creation failed (null m_Thread,
// asserted). A null name is asserted and taken as the empty name: the thread still runs.
// Its processors: on Windows the process's mask; on POSIX its creator's mask, as POSIX
// threads inherit it, unless a mask was set with ThreadSetProcessAffinity.
ThreadImpl* ThreadCreate(const char* name, ThreadEntryFunc entry, void* arg, uint32_t stack_size);
// Waits without time limit for a created thread to end, then frees its object.
void ThreadDestroy(ThreadImpl* thread);
void ThreadSetPriority(ThreadImpl* thread, EThreadPriority priority);
EThreadPriority ThreadGetPriority(ThreadImpl* thread);
// Has no effect: processor binding goes through ThreadSetAffinity.
void ThreadSetProcessor(ThreadImpl* thread, int32_t processor);
// Stores at most 127 bytes of the name, cut between two UTF-8 characters, then tells
// debuggers the whole name.
void ThreadSetName(ThreadImpl* thread, const char* name);
// Tells debuggers (and the OS's own thread name, where it keeps one) a thread's name.
void ThreadAnnounceName(uint32_t thread_id, const char* name);
// The OS thread id of a thread object (0 when it has no thread).
uint32_t ThreadGetId(ThreadImpl* thread);
// The calling thread's stack extent in bytes, as the OS reports it.
uint32_t ThreadGetStackSize();
// Gives the calling thread an object named from the table; null (asserted) when it has one.
// A null name is asserted and taken as the empty name.
ThreadImpl* ThreadAttachCurrent(const char* name);
// Frees the calling thread's adopted object and clears its slot; nothing without an object.
void ThreadDetachCurrent();
// The first record naming the thread, or the last record; never null.
const SThreadConfigEntry* ThreadFindConfig(const char* name);
// Names the thread and applies the processor and priority of its name's record.
void ThreadApplyConfig(ThreadImpl* thread, const char* name);
// Installs a table for threads created or adopted from now on; it is not copied.
void ThreadSetConfigTable(const SThreadConfigTable& table);

// Stack size given to a new thread: 4096 for requests up to 4096 (0 included), otherwise
// the request raised to the next multiple of 4096. 64-bit so the largest requests do not
// wrap around to 0.
uint64_t ThreadRoundStackSize(uint32_t requested);

// The rounded size as the OS takes it: capped at the largest multiple of 4096 that a size_t
// holds, so that requests too large for the address space are left for the OS to refuse.
size_t ThreadStackSizeToOs(uint32_t requested);

// The name that ThreadCreate and ThreadAttachCurrent use: the given one, or the empty name
// for null, which is asserted.
const char* ThreadCheckName(const char* name);

// Runs a created thread's own code, on that thread: makes its object the thread's current
// one, then runs its init callback and its entry function. Called by the per-OS start
// routines once the creator has put the handle, name and priority in place.
void ThreadRunCreated(ThreadImpl* thread);
