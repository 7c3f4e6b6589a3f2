// The thread object queries about the calling thread: its object, its name. Portable;
// creating and adopting threads and the OS id live in the per-OS thread unit.
#include "common/thread/thread.h"

TLS_GLOBAL_DEFINE(g_current_thread);

// Two distinct fallback strings with the same text: one per name query.
static const char* const s_LookupFallbackName = THREAD_UNKNOWN_NAME;
static const char* const s_CurrentFallbackName = THREAD_UNKNOWN_NAME;

ThreadImpl* ThreadGetCurrent()
{
    return reinterpret_cast<ThreadImpl*>(TLS_GLOBAL_GET_UINTPTR(g_current_thread));
}

const char* ThreadGetCurrentName()
{
    ThreadImpl* thread = ThreadGetCurrent();
    return thread != nullptr ? thread->m_Name : s_CurrentFallbackName;
}

const char* ThreadGetCurrentThreadName()
{
    return ThreadGetCurrentName();
}

const char* ThreadGetName(ThreadImpl* thread)
{
    return thread->m_Name;
}

const char* ThreadLookupName()
{
    return s_LookupFallbackName;
}
