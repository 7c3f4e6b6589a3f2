// OS facts for the thread tests, read with the OS's own calls; and fake machines for the
// processor count. Per-OS by necessity: each half uses its own OS's calls.
#include "thread_os_support.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "common/thread/thread.h"

#if defined(_WIN32)
#include "thread/thread_win32.h"
#include <windows.h>
#else
#include "thread/thread_posix.h"
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#if defined(_WIN32)

bool OsMayRaiseThreadPriority()
{
    return true;
}

typedef HRESULT(WINAPI* GetThreadDescriptionFunc)(HANDLE thread, PWSTR* description);

std::string OsCurrentThreadName()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto get = reinterpret_cast<GetThreadDescriptionFunc>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetThreadDescription")));
    if (get == nullptr)
        return std::string();
    PWSTR description = nullptr;
    if (FAILED(get(GetCurrentThread(), &description)) || description == nullptr)
        return std::string();
    char narrow[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, description, -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
    LocalFree(description);
    return narrow;
}

size_t OsThreadNameLimit()
{
    return static_cast<size_t>(-1);
}

void OsSetPriorityOutsideRange(ThreadImpl* thread)
{
    SetThreadPriority(thread->m_Thread, THREAD_PRIORITY_LOWEST);
}

bool OsTakeThreadExitCode(ThreadImpl* thread, uint32_t* exit_code)
{
    DWORD code = 0;
    if (WaitForSingleObject(thread->m_Thread, 60000) != WAIT_OBJECT_0 ||
        !GetExitCodeThread(thread->m_Thread, &code))
        return false;
    *exit_code = code;
    return true;
}

// What the naming exception carried, seen by a vectored handler that runs before the
// platform layer's own one and lets the exception go on.
static std::string s_Announced;
static uint32_t s_AnnouncedFor;

static LONG CALLBACK ObserveThreadName(EXCEPTION_POINTERS* exception)
{
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    struct SInfo
    {
        DWORD m_Type;
        LPCSTR m_Name;
        DWORD m_ThreadId;
        DWORD m_Flags;
    };
    if (record->ExceptionCode != 0x406D1388 || record->ExceptionFlags != 0 ||
        record->NumberParameters != sizeof(SInfo) / sizeof(ULONG_PTR))
        return EXCEPTION_CONTINUE_SEARCH;
    const auto* info = reinterpret_cast<const SInfo*>(record->ExceptionInformation);
    if (info->m_Type == 0x1000 && info->m_ThreadId == s_AnnouncedFor && info->m_Flags == 0)
        s_Announced = info->m_Name;
    return EXCEPTION_CONTINUE_SEARCH;
}

std::string OsAnnouncedName(uint32_t thread_id, const char* name)
{
    s_Announced.clear();
    s_AnnouncedFor = thread_id;
    PVOID handler = AddVectoredExceptionHandler(1, &ObserveThreadName);
    ThreadAnnounceName(thread_id, name);
    RemoveVectoredExceptionHandler(handler);
    return s_Announced;
}

bool OsIsWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool OsCountCores(uint32_t* cores, uint32_t* logical)
{
    DWORD length = 0;
    GetLogicalProcessorInformationEx(RelationProcessorCore, nullptr, &length);
    if (length == 0)
        return false;
    std::vector<unsigned char> buffer(length);
    auto* info = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data());
    if (!GetLogicalProcessorInformationEx(RelationProcessorCore, info, &length))
        return false;
    *cores = 0;
    *logical = 0;
    for (DWORD offset = 0; offset < length;)
    {
        auto* record =
            reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data() + offset);
        if (record->Relationship == RelationProcessorCore)
        {
            ++*cores;
            for (WORD group = 0; group < record->Processor.GroupCount; ++group)
            {
                KAFFINITY mask = record->Processor.GroupMask[group].Mask;
                for (; mask != 0; mask &= mask - 1)
                    ++*logical;
            }
        }
        offset += record->Size;
    }
    return *cores > 0;
}

// The fake machine's records, handed out the way GetLogicalProcessorInformation does:
// too small a buffer fails with ERROR_INSUFFICIENT_BUFFER and the needed length.
static std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> s_FakeRecords;
static std::atomic<int> s_FakeQueries{0};

static BOOL WINAPI FakeProcessorInformation(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION buffer,
                                            PDWORD length)
{
    ++s_FakeQueries;
    DWORD needed = static_cast<DWORD>(s_FakeRecords.size() * sizeof(s_FakeRecords[0]));
    if (*length < needed)
    {
        *length = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, s_FakeRecords.data(), needed);
    *length = needed;
    return TRUE;
}

CFakeMachine::CFakeMachine(uint32_t cores, uint32_t threads_per_core)
{
    s_FakeRecords.clear();
    s_FakeQueries = 0;
    for (uint32_t core = 0; core < cores; ++core)
    {
        SYSTEM_LOGICAL_PROCESSOR_INFORMATION record = {};
        record.Relationship = RelationProcessorCore;
        // The masks repeat after 64 processors; only their bit counts matter here.
        record.ProcessorMask = static_cast<ULONG_PTR>(((1ull << threads_per_core) - 1)
                                                      << ((core * threads_per_core) % 32));
        s_FakeRecords.push_back(record);
        SYSTEM_LOGICAL_PROCESSOR_INFORMATION cache = {};
        cache.Relationship = RelationCache;
        cache.ProcessorMask = record.ProcessorMask;
        s_FakeRecords.push_back(cache);
    }
    g_ThreadOsSeams.m_GetLogicalProcessorInformation = &FakeProcessorInformation;
}

CFakeMachine::~CFakeMachine()
{
    g_ThreadOsSeams.m_GetLogicalProcessorInformation = &GetLogicalProcessorInformation;
}

int CFakeMachine::Queries() const
{
    return s_FakeQueries.load();
}

#else // POSIX

bool OsMayRaiseThreadPriority()
{
    // Probed in a throwaway thread, whose nice value dies with it.
    bool permitted = false;
    std::thread probe(
        [&]
        {
            id_t tid = static_cast<id_t>(syscall(SYS_gettid));
            errno = 0;
            int nice = getpriority(PRIO_PROCESS, tid);
            permitted = errno == 0 && setpriority(PRIO_PROCESS, tid, nice - 1) == 0;
        });
    probe.join();
    return permitted;
}

std::string OsCurrentThreadName()
{
    char name[64] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    return name;
}

size_t OsThreadNameLimit()
{
    return 15;
}

void OsSetPriorityOutsideRange(ThreadImpl* thread)
{
    // Two nice steps above the process's: raising a nice value needs no privilege.
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    setpriority(PRIO_PROCESS, thread->m_ThreadId, nice + 2);
}

bool OsTakeThreadExitCode(ThreadImpl* thread, uint32_t* exit_code)
{
    void* result = reinterpret_cast<void*>(1);
    if (pthread_join(static_cast<pthread_t>(reinterpret_cast<uintptr_t>(thread->m_Thread)),
                     &result) != 0)
        return false;
    thread->m_Thread = nullptr;
    *exit_code = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(result));
    return true;
}

bool OsIsWine()
{
    return false;
}

std::string OsAnnouncedName(uint32_t thread_id, const char* name)
{
    ThreadAnnounceName(thread_id, name);
    std::ifstream comm("/proc/self/task/" + std::to_string(thread_id) + "/comm");
    std::string kept;
    std::getline(comm, kept);
    return kept;
}

bool OsCountCores(uint32_t* cores, uint32_t* logical)
{
    // /proc/cpuinfo: one block per logical processor, with its package and core ids.
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::set<std::pair<int, int>> seen;
    uint32_t processors = 0;
    int package = -1;
    std::string line;
    while (std::getline(cpuinfo, line))
    {
        int value = 0;
        if (std::sscanf(line.c_str(), "processor : %d", &value) == 1)
            ++processors;
        else if (std::sscanf(line.c_str(), "physical id : %d", &value) == 1)
            package = value;
        else if (std::sscanf(line.c_str(), "core id : %d", &value) == 1)
            seen.insert({package, value});
    }
    if (processors == 0 || seen.empty())
        return false;
    *cores = static_cast<uint32_t>(seen.size());
    *logical = processors;
    return true;
}

static void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text << "\n";
}

CFakeMachine::CFakeMachine(uint32_t cores, uint32_t threads_per_core)
{
    char pattern[] = "/tmp/fake-cpu-XXXXXX";
    m_Root = mkdtemp(pattern);
    uint32_t processors = cores * threads_per_core;
    WriteFile(m_Root + "/online", "0-" + std::to_string(processors - 1));
    for (uint32_t cpu = 0; cpu < processors; ++cpu)
    {
        uint32_t first = cpu / threads_per_core * threads_per_core;
        std::string siblings =
            threads_per_core == 1
                ? std::to_string(first)
                : std::to_string(first) + "-" + std::to_string(first + threads_per_core - 1);
        std::string dir = m_Root + "/cpu" + std::to_string(cpu);
        mkdir(dir.c_str(), 0700);
        mkdir((dir + "/topology").c_str(), 0700);
        // Odd processors carry only the older file name, as kernels before 5.x do.
        WriteFile(dir + (cpu % 2 ? "/topology/thread_siblings_list" : "/topology/core_cpus_list"),
                  siblings);
    }
    g_ThreadOsSeams.m_CpuRoot = m_Root.c_str();
}

CFakeMachine::~CFakeMachine()
{
    g_ThreadOsSeams.m_CpuRoot = "/sys/devices/system/cpu";
    std::error_code ignored;
    std::filesystem::remove_all(m_Root, ignored);
}

int CFakeMachine::Queries() const
{
    return 0;
}

#endif
