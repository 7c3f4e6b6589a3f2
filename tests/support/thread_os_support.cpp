// OS facts for the thread tests, read with the OS's own calls, and fake machines for the
// processor count. Per-OS by necessity: each half uses its own OS's calls.
#include "thread_os_support.h"

#include <vector>

#include "common/thread/thread.h"

#if defined(_WIN32)
#include "thread/thread_win32.h"
#include <cstring>
#include <windows.h>

bool OsMayRaiseThreadPriority()
{
    return true;
}

std::string OsCurrentThreadName()
{
    typedef HRESULT(WINAPI * GetThreadDescriptionFunc)(HANDLE thread, PWSTR * description);
    auto get = reinterpret_cast<GetThreadDescriptionFunc>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
    PWSTR description = nullptr;
    if (get == nullptr || FAILED(get(GetCurrentThread(), &description)))
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

static std::string s_Announced;
static uint32_t s_AnnouncedFor;

static LONG CALLBACK ObserveThreadName(EXCEPTION_POINTERS* exception)
{
    struct SInfo
    {
        DWORD m_Type;
        LPCSTR m_Name;
        DWORD m_ThreadId;
        DWORD m_Flags;
    };
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    const auto* info = reinterpret_cast<const SInfo*>(record->ExceptionInformation);
    if (record->ExceptionCode == 0x406D1388 && record->ExceptionFlags == 0 &&
        record->NumberParameters == sizeof(SInfo) / sizeof(ULONG_PTR) && info->m_Type == 0x1000 &&
        info->m_ThreadId == s_AnnouncedFor && info->m_Flags == 0)
        s_Announced = info->m_Name;
    return EXCEPTION_CONTINUE_SEARCH; // the platform layer's own handler continues it
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

bool OsTakeThreadExitCode(ThreadImpl* thread, uint32_t* exit_code)
{
    DWORD code = 1;
    bool ended = WaitForSingleObject(thread->m_Thread, 60000) == WAIT_OBJECT_0 &&
                 GetExitCodeThread(thread->m_Thread, &code);
    *exit_code = code;
    return ended;
}

bool OsIsWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool OsCountCores(uint32_t*, uint32_t*)
{
    return false;
}

// GetLogicalProcessorInformation's contract: too small a buffer fails with
// ERROR_INSUFFICIENT_BUFFER and the length needed.
static std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> s_FakeRecords;

static BOOL WINAPI FakeProcessorInformation(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION buffer,
                                            PDWORD length)
{
    DWORD needed = static_cast<DWORD>(s_FakeRecords.size() * sizeof(s_FakeRecords[0]));
    bool fits = *length >= needed;
    if (fits)
        std::memcpy(buffer, s_FakeRecords.data(), needed);
    *length = needed;
    SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return fits;
}

CFakeMachine::CFakeMachine(uint32_t cores, uint32_t threads_per_core)
{
    s_FakeRecords.clear();
    for (uint32_t core = 0; core < cores; ++core)
    {
        SYSTEM_LOGICAL_PROCESSOR_INFORMATION record = {};
        record.Relationship = RelationProcessorCore;
        // Only the bit counts matter, so the masks may repeat.
        record.ProcessorMask = static_cast<ULONG_PTR>(((1ull << threads_per_core) - 1)
                                                      << (core * threads_per_core % 32));
        s_FakeRecords.push_back(record);
        record.Relationship = RelationCache;
        s_FakeRecords.push_back(record);
    }
    g_ThreadOsSeams.m_GetLogicalProcessorInformation = &FakeProcessorInformation;
}

CFakeMachine::~CFakeMachine()
{
    g_ThreadOsSeams.m_GetLogicalProcessorInformation = &GetLogicalProcessorInformation;
}

#else // POSIX
#include "thread/thread_posix.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>

bool OsMayRaiseThreadPriority()
{
    // Probed in a throwaway thread, whose nice value ends with it.
    bool permitted = false;
    std::thread probe([&] {
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

std::string OsAnnouncedName(uint32_t thread_id, const char* name)
{
    ThreadAnnounceName(thread_id, name);
    std::ifstream comm("/proc/self/task/" + std::to_string(thread_id) + "/comm");
    std::string kept;
    std::getline(comm, kept);
    return kept;
}

bool OsTakeThreadExitCode(ThreadImpl* thread, uint32_t* exit_code)
{
    void* result = reinterpret_cast<void*>(1);
    pthread_t handle = static_cast<pthread_t>(reinterpret_cast<uintptr_t>(thread->m_Thread));
    bool ended = pthread_join(handle, &result) == 0;
    thread->m_Thread = nullptr;
    *exit_code = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(result));
    return ended;
}

bool OsIsWine()
{
    return false;
}

bool OsCountCores(uint32_t* cores, uint32_t* logical)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::set<std::pair<int, int>> seen; // (package, core) of each logical processor
    int package = -1;
    int value = 0;
    *logical = 0;
    for (std::string line; std::getline(cpuinfo, line);)
    {
        if (std::sscanf(line.c_str(), "processor : %d", &value) == 1)
            ++*logical;
        else if (std::sscanf(line.c_str(), "physical id : %d", &value) == 1)
            package = value;
        else if (std::sscanf(line.c_str(), "core id : %d", &value) == 1)
            seen.insert({package, value});
    }
    *cores = static_cast<uint32_t>(seen.size());
    return *logical > 0 && *cores > 0;
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
        std::string topology = m_Root + "/cpu" + std::to_string(cpu) + "/topology";
        std::filesystem::create_directories(topology);
        // Odd processors carry only the older file name, as kernels before 5.x do.
        WriteFile(topology + (cpu % 2 ? "/thread_siblings_list" : "/core_cpus_list"),
                  std::to_string(first) + "-" + std::to_string(first + threads_per_core - 1));
    }
    g_ThreadOsSeams.m_CpuRoot = m_Root.c_str();
}

CFakeMachine::~CFakeMachine()
{
    g_ThreadOsSeams.m_CpuRoot = "/sys/devices/system/cpu";
    std::error_code ignored;
    std::filesystem::remove_all(m_Root, ignored);
}

#endif
