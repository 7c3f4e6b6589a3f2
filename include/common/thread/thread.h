// Thread objects and the queries about the calling thread. Portable interface; the
// parts that talk to the OS live in win32/thread/thread_win32 and posix/thread/thread_posix.
#pragma once

#include <cstdint>

#include "common/thread/synchronization.h"

typedef void (*ThreadEntryFunc)(void* arg);
typedef void (*ThreadInitCallbackFunc)(void* arg);

// A thread that the platform layer knows, created or adopted. m_Thread is the OS handle
// (a HANDLE, or a pthread_t widened to a pointer).
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
// The calling thread's object's name, or the fallback text; never null.
const char* ThreadGetCurrentName();
// The same, as a second entry point for tables that need a distinct address.
const char* ThreadGetCurrentThreadName();
const char* ThreadGetName(ThreadImpl* thread);
// Name lookup by the OS is disabled: always the fallback text.
const char* ThreadLookupName();
// The calling thread's OS id.
uint32_t ThreadGetCurrentId();
