// The thread object queries about the calling thread, and the per-name configuration
// table, naming, stack sizes, priorities, adoption and the run of a created thread's own
// code. Portable: creation and the OS's side of each call (platform/os.h) live in the
// per-OS thread unit.
#include "common/thread/thread.h"

#include <cstdint>
#include <cstring>

#include "common/debug/assert.h"
#include "common/debug/utf8.h"
#include "platform/os.h"

TLS_GLOBAL_DEFINE(g_current_thread);

// Two distinct fallback strings with the same text: one per name query.
static const char* const s_LookupFallbackName = THREAD_UNKNOWN_NAME;
static const char* const s_CurrentFallbackName = THREAD_UNKNOWN_NAME;

ThreadImpl* ThreadGetCurrent()
{
    return reinterpret_cast<ThreadImpl*>(TLS_GLOBAL_GET_UINTPTR(g_current_thread));
}

ThreadImpl* ThreadPeekCurrent()
{
    return reinterpret_cast<ThreadImpl*>(TlsGlobalPeek(&g_current_thread_slot));
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

// ---- configuration table ----

// The built-in table: its last record alone, so every name gets normal priority, no
// processor and no init callback.
static const SThreadConfigEntry s_DefaultConfig[] = {
    {nullptr, E_THREAD_PRIORITY_NORMAL, -1, nullptr, nullptr},
};

// The table in use: replaced only by ThreadSetConfigTable, read without a lock (tables are
// installed before the threads that they configure are created).
static const SThreadConfigEntry* s_ConfigTable = s_DefaultConfig;

SThreadConfigTable::SThreadConfigTable() : m_Entries(s_DefaultConfig) {}

void ThreadSetConfigTable(const SThreadConfigTable& table)
{
    s_ConfigTable = table.m_Entries;
}

const SThreadConfigEntry* ThreadFindConfig(const char* name)
{
    const SThreadConfigEntry* entry = s_ConfigTable;
    while (entry->m_Name != nullptr && std::strcmp(entry->m_Name, name) != 0)
        ++entry;
    return entry;
}

void ThreadApplyConfig(ThreadImpl* thread, const char* name)
{
    const SThreadConfigEntry* config = ThreadFindConfig(name);
    ThreadSetName(thread, name);
    if (config->m_Processor >= 0)
        ThreadSetProcessor(thread, config->m_Processor);
    ThreadSetPriority(thread, config->m_Priority);
}

// ---- naming ----

void ThreadSetName(ThreadImpl* thread, const char* name)
{
    // The stored copy is cut to fit, between two characters so that no half of one is
    // left at its end; debuggers are told the caller's whole name.
    const size_t length = Utf8CutLength(name, sizeof(thread->m_Name) - 1);
    std::memcpy(thread->m_Name, name, length);
    thread->m_Name[length] = '\0';
    ThreadAnnounceName(ThreadGetId(thread), name);
}

// ---- stack size and priorities ----

uint64_t ThreadRoundStackSize(uint32_t requested)
{
    const uint64_t page = 4096;
    if (requested <= page)
        return page;
    return (static_cast<uint64_t>(requested) + page - 1) / page * page;
}

size_t ThreadStackSizeToOs(uint32_t requested)
{
    const uint64_t largest = static_cast<uint64_t>(SIZE_MAX) & ~static_cast<uint64_t>(4095);
    const uint64_t rounded = ThreadRoundStackSize(requested);
    return static_cast<size_t>(rounded < largest ? rounded : largest);
}

// OS relative priority of each EThreadPriority.
static const int32_t s_OsPriority[] = {
    -1, // E_THREAD_PRIORITY_LOW: below normal
    0,  // E_THREAD_PRIORITY_NORMAL
    1,  // E_THREAD_PRIORITY_HIGH: above normal
};
static_assert(ARRAY_LENGTH(s_OsPriority) == E_THREAD_PRIORITY_COUNT,
              "one OS priority per EThreadPriority");

void ThreadSetPriority(ThreadImpl* thread, EThreadPriority priority)
{
    if (priority < 0 || priority >= E_THREAD_PRIORITY_COUNT)
    {
        PLATFORM_ASSERT(false && "This should not happen!");
        return;
    }
    OsThreadSetPriority(thread, s_OsPriority[priority]);
}

EThreadPriority ThreadGetPriority(ThreadImpl* thread)
{
    int32_t os_priority = 0;
    if (OsThreadGetPriority(thread, &os_priority))
    {
        for (int32_t value = 0; value < E_THREAD_PRIORITY_COUNT; ++value)
        {
            if (s_OsPriority[value] == os_priority)
                return static_cast<EThreadPriority>(value);
        }
    }
    // Unreadable, or a priority that no EThreadPriority maps to.
    PLATFORM_ASSERT(false && "This should not happen!");
    return E_THREAD_PRIORITY_NORMAL;
}

void ThreadSetProcessor(ThreadImpl* /*thread*/, int32_t /*processor*/)
{
    // No effect: binding goes through ThreadSetAffinity.
}

// ---- created and adopted threads ----

const char* ThreadCheckName(const char* name)
{
    // The table lookup and the naming read the name; null would crash them.
    PLATFORM_ASSERT(name != 0 && "A thread needs a name!");
    return name != nullptr ? name : "";
}

void ThreadRunCreated(ThreadImpl* thread)
{
    TLS_GLOBAL_SET_UINTPTR(g_current_thread, thread);
    if (thread->m_InitCallback != NULL)
        thread->m_InitCallback(thread->m_InitCallbackArg);
    thread->m_Entry(thread->m_Arg);
}

ThreadImpl* ThreadAttachCurrent(const char* name)
{
    name = ThreadCheckName(name);
    ThreadImpl* thread = ThreadGetCurrent();
    PLATFORM_ASSERT(thread == NULL);
    if (thread != NULL)
        return NULL;

    thread = new ThreadImpl(NULL, NULL, NULL, NULL);
    TLS_GLOBAL_SET_UINTPTR(g_current_thread, thread);
    OsThreadAdoptCurrent(thread);
    ThreadApplyConfig(thread, name);
    return thread;
}

void ThreadDetachCurrent()
{
    ThreadImpl* thread_impl = ThreadGetCurrent();
    TLS_GLOBAL_SET_UINTPTR(g_current_thread, 0);
    if (thread_impl == NULL)
        return;
    // A created thread's object belongs to whoever calls ThreadDestroy on it.
    PLATFORM_ASSERT(thread_impl->m_Entry == NULL);
    if (thread_impl->m_Entry != NULL)
        return;
    OsThreadReleaseAdopted(thread_impl);
    delete thread_impl;
}
