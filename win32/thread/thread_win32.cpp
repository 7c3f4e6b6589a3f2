// Thread creation, naming (the debugger's thread-naming exception and the thread
// description), affinity and processor information on Windows, and the OS's side of
// adoption, priorities and binding (platform/os.h). Per-OS; the portable half of the
// thread layer is common/thread/thread.cpp and common/thread/affinity.cpp.

#include <bit>
#include <cwchar>
#include <new>
#include <windows.h>

#include "common/debug/assert.h"
#include "common/thread/affinity.h"
#include "common/thread/thread.h"
#include "platform/os.h"

uint32_t ThreadGetCurrentId()
{
    return GetCurrentThreadId();
}

uint32_t ThreadGetId(ThreadImpl* thread)
{
    return thread->m_Thread != NULL ? GetThreadId(thread->m_Thread) : 0;
}

// ---- creation ----

static DWORD WINAPI ThreadStartRoutine(LPVOID param)
{
    ThreadRunCreated(static_cast<ThreadImpl*>(param));
    return 0; // the exit code, whatever the entry function did
}

ThreadImpl* ThreadCreate(const char* name, ThreadEntryFunc entry, void* arg, uint32_t stack_size)
{
    name = ThreadCheckName(name);
    const SThreadConfigEntry* config = ThreadFindConfig(name);
    auto* thread = new ThreadImpl(entry, arg, config->m_InitCallbackArg, config->m_InitCallback);

    // The size is the stack committed at first.
    SIZE_T stack = ThreadStackSizeToOs(stack_size);

    // Created suspended, so that its handle, name and priority are in place before its init
    // callback or entry function can look at them.
    DWORD thread_id = 0;
    thread->m_Thread =
        CreateThread(NULL, stack, &ThreadStartRoutine, thread, CREATE_SUSPENDED, &thread_id);
    thread->m_ThreadId = thread_id;
    PLATFORM_ASSERT(thread->m_Thread != NULL);
    ThreadApplyConfig(thread, name);
    if (thread->m_Thread != NULL)
        ResumeThread(thread->m_Thread);
    return thread;
}

void ThreadDestroy(ThreadImpl* thread)
{
    // Closing a null handle would raise an invalid-handle exception under a debugger.
    if (thread->m_Thread != NULL)
    {
        WaitForSingleObject(thread->m_Thread, INFINITE);
        CloseHandle(thread->m_Thread);
    }
    delete thread;
}

// ---- adoption ----

void OsThreadAdoptCurrent(ThreadImpl* thread)
{
    // GetCurrentThread's pseudo-handle stands for whichever thread uses it, so priority and
    // affinity calls made on this object from another thread would act on that thread. A
    // real handle, closed on detachment, stands for this thread from anywhere.
    HANDLE real = NULL;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &real, 0,
                        FALSE, DUPLICATE_SAME_ACCESS))
        thread->m_Thread = real;
    else
        thread->m_Thread = GetCurrentThread();
    thread->m_ThreadId = GetCurrentThreadId();
}

void OsThreadReleaseAdopted(ThreadImpl* thread)
{
    if (thread->m_Thread != NULL && thread->m_Thread != GetCurrentThread())
        CloseHandle(thread->m_Thread);
}

// ---- priorities ----

void OsThreadSetPriority(ThreadImpl* thread, int32_t os_priority)
{
    SetThreadPriority(thread->m_Thread, os_priority); // a refusal is not reported
}

bool OsThreadGetPriority(ThreadImpl* thread, int32_t* os_priority)
{
    *os_priority = GetThreadPriority(thread->m_Thread);
    return *os_priority != THREAD_PRIORITY_ERROR_RETURN;
}

// ---- naming ----

// The debugger's thread-naming convention: exception 0x406D1388 with this record as its
// arguments; the debugger reads the name and continues.
static const DWORD s_ThreadNameException = 0x406D1388;
#pragma pack(push, 8)
struct SThreadNameInfo
{
    DWORD m_Type; // 0x1000
    LPCSTR m_Name;
    DWORD m_ThreadId;
    DWORD m_Flags; // 0
};
#pragma pack(pop)

#if !defined(_MSC_VER)
// Without __try/__except the naming exception would end the process when no debugger takes
// it. This handler, installed only around the raise, continues execution for that code
// alone. It is added last so other vectored handlers still see the exception; a debugger
// gets it first, before any vectored handler. (Removing it after the raise matters: a
// handler left behind would point into this module after it is unloaded.)
static LONG CALLBACK ContinueAfterThreadName(EXCEPTION_POINTERS* exception)
{
    return exception->ExceptionRecord->ExceptionCode == s_ThreadNameException
               ? EXCEPTION_CONTINUE_EXECUTION
               : EXCEPTION_CONTINUE_SEARCH;
}
#endif

static void RaiseThreadNameException(uint32_t thread_id, const char* name)
{
    SThreadNameInfo info = {0x1000, name, thread_id, 0};
    const DWORD arguments = sizeof(info) / sizeof(ULONG_PTR);
    const ULONG_PTR* record = reinterpret_cast<const ULONG_PTR*>(&info);
#if defined(_MSC_VER)
    __try
    {
        RaiseException(s_ThreadNameException, 0, arguments, record);
    }
    __except (EXCEPTION_CONTINUE_EXECUTION)
    {
    }
#else
    PVOID handler = AddVectoredExceptionHandler(0, &ContinueAfterThreadName);
    // Without the handler only an attached debugger may be told.
    if (handler != NULL || IsDebuggerPresent())
        RaiseException(s_ThreadNameException, 0, arguments, record);
    if (handler != NULL)
        RemoveVectoredExceptionHandler(handler);
#endif
}

// Windows 10 (1607) and later keep a description per thread, which debuggers and crash
// dumps show. Looked up at run time so the library still loads on older systems.
typedef HRESULT(WINAPI* SetThreadDescriptionFunc)(HANDLE thread, PCWSTR description);

static SetThreadDescriptionFunc LookUpSetThreadDescription()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel != NULL ? GetProcAddress(kernel, "SetThreadDescription") : NULL;
    return reinterpret_cast<SetThreadDescriptionFunc>(reinterpret_cast<void (*)()>(address));
}

static void SetDescription(uint32_t thread_id, const char* name)
{
    static const SetThreadDescriptionFunc s_SetThreadDescription = LookUpSetThreadDescription();
    if (s_SetThreadDescription == NULL)
        return;
    // Names are UTF-8, as the kit reads descriptions back; ill-formed bytes become U+FFFD.
    int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, NULL, 0);
    if (length <= 0)
        return;
    auto* wide = new (std::nothrow) wchar_t[static_cast<size_t>(length)];
    if (wide == nullptr)
        return;
    MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, length);
    HANDLE thread = OpenThread(THREAD_SET_LIMITED_INFORMATION, FALSE, thread_id);
    if (thread != NULL)
    {
        s_SetThreadDescription(thread, wide);
        CloseHandle(thread);
    }
    delete[] wide;
}

void ThreadAnnounceName(uint32_t thread_id, const char* name)
{
    RaiseThreadNameException(thread_id, name);
    if (thread_id != 0)
        SetDescription(thread_id, name);
}

uint32_t ThreadGetStackSize()
{
    // Base minus limit from the thread information block: the committed extent. GCC 12
    // takes the segment-relative read inside NtCurrentTeb for an access to an empty array
    // when it optimises 32-bit code, a false -Warray-bounds.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
    const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return static_cast<uint32_t>(static_cast<const char*>(tib->StackBase) -
                                 static_cast<const char*>(tib->StackLimit));
}

// ---- affinity ----

static DWORD_PTR ProcessMask()
{
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask);
    return process_mask;
}

uint64_t OsThreadSetAffinityMask(ThreadImpl* thread, uint64_t affinity_mask)
{
    return SetThreadAffinityMask(thread->m_Thread, static_cast<DWORD_PTR>(affinity_mask));
}

int OsThreadSetIdealProcessor(ThreadImpl* thread, int32_t ideal_proc)
{
    return static_cast<int>(
        SetThreadIdealProcessor(thread->m_Thread, static_cast<DWORD>(ideal_proc)));
}

uint64_t ThreadGetAffinity(ThreadImpl* thread, int32_t* ideal_proc)
{
    // Windows has no call that reads a thread's mask: set one, keep the previous mask that
    // the call returns, and put it back. The temporary mask is the process mask, which every
    // thread of the process may take; all ones would be refused on any machine with fewer
    // processors than mask bits, and the mask would read as 0.
    DWORD_PTR prev_mask = SetThreadAffinityMask(thread->m_Thread, ProcessMask());
    if (prev_mask != 0)
        SetThreadAffinityMask(thread->m_Thread, prev_mask);
    // The processor limit as the ideal processor reads the current one without a change.
    DWORD ideal = SetThreadIdealProcessor(thread->m_Thread, MAXIMUM_PROCESSORS);
    if (ideal_proc != NULL)
        *ideal_proc = static_cast<int32_t>(ideal);
    return prev_mask;
}

void ThreadSetProcessAffinity(uint64_t affinity_mask)
{
    BOOL ret = SetProcessAffinityMask(GetCurrentProcess(), static_cast<DWORD_PTR>(affinity_mask));
    PLATFORM_ASSERT(ret != FALSE);
}

uint64_t ThreadGetProcessAffinity()
{
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    BOOL ret = GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask);
    PLATFORM_ASSERT(ret != FALSE);
    return process_mask;
}

// ---- processor information ----

// The first query reads into a fixed buffer of 1536 bytes (64 records of the 32-bit
// layout); a machine that needs more gets a buffer of the size that the system asks for.
static const DWORD s_FixedInfoBytes = 1536;
typedef SYSTEM_LOGICAL_PROCESSOR_INFORMATION SProcessorInfo;
static const DWORD s_InfoBytes = sizeof(SProcessorInfo);
static_assert(sizeof(void*) != 4 || sizeof(SProcessorInfo) == 24, "32-bit record layout");

uint32_t ThreadGetNumProcessors(uint32_t* num_cores)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    if (num_cores == NULL)
        return system.dwNumberOfProcessors;

    SProcessorInfo fixed[s_FixedInfoBytes / sizeof(SProcessorInfo)];
    SProcessorInfo* records = fixed;
    DWORD capacity = sizeof(fixed);
    DWORD length = capacity;
    BOOL ok = GetLogicalProcessorInformation(records, &length);
    // The processor set may change between calls, so a few more tries.
    for (int attempt = 0; !ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && attempt < 4;
         ++attempt)
    {
        if (records != fixed)
            delete[] records;
        DWORD count = (length + s_InfoBytes - 1) / s_InfoBytes;
        records = new (std::nothrow) SProcessorInfo[count];
        if (records == nullptr)
            break;
        capacity = count * s_InfoBytes;
        length = capacity;
        ok = GetLogicalProcessorInformation(records, &length);
    }

    uint32_t cores = 0;
    uint32_t logical = 0;
    if (ok && records != nullptr)
    {
        // Only the records that the call wrote, and never past the buffer.
        DWORD count = (length < capacity ? length : capacity) / s_InfoBytes;
        for (DWORD index = 0; index < count; ++index)
        {
            if (records[index].Relationship != RelationProcessorCore)
                continue;
            ++cores;
            logical += static_cast<uint32_t>(
                std::popcount(static_cast<uint64_t>(records[index].ProcessorMask)));
        }
    }
    if (records != fixed)
        delete[] records;
    if (cores == 0)
    {
        // No topology to read: every processor counts as a core.
        *num_cores = system.dwNumberOfProcessors;
        return system.dwNumberOfProcessors;
    }
    *num_cores = cores;
    return logical;
}

uint32_t ThreadGetCurrentProcessor()
{
    return GetCurrentProcessorNumber();
}
