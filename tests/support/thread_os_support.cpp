// OS facts for the thread tests, read with the OS's own calls, and fake machines for the
// processor count. Per-OS by necessity: each half uses its own OS's calls.
#include "thread_os_support.h"

#include "common/thread/thread.h"

#if defined(_WIN32)
#include "thread/thread_win32.h"

bool OsMayRaiseThreadPriority()
{
    return true;
}

int OsThreadPriority(ThreadImpl* thread)
{
    return GetThreadPriority(thread->m_Thread);
}

typedef HRESULT(WINAPI* GetThreadDescriptionFunc)(HANDLE thread, PWSTR* description);
static const auto s_GetThreadDescription =
    reinterpret_cast<GetThreadDescriptionFunc>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));

std::string OsCurrentThreadName()
{
    PWSTR description = nullptr;
    std::string name;
    if (s_GetThreadDescription != nullptr &&
        SUCCEEDED(s_GetThreadDescription(GetCurrentThread(), &description)))
        for (PWSTR at = description; *at != 0; ++at)
            name += static_cast<char>(*at); // the tests' names are ASCII
    LocalFree(description);
    return name;
}

std::string OsKeptName(const std::string& name)
{
    return s_GetThreadDescription != nullptr ? name : std::string();
}

uint32_t OsTakeThreadExitCode(ThreadImpl* thread)
{
    DWORD code = 1; // when the thread cannot be waited for
    if (WaitForSingleObject(thread->m_Thread, 60000) == WAIT_OBJECT_0)
        GetExitCodeThread(thread->m_Thread, &code);
    return code;
}

bool OsCountCores(uint32_t*, uint32_t*)
{
    return false;
}

uint64_t OsThreadAffinity(ThreadImpl* thread)
{
    DWORD_PTR process = 0, system = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
    const DWORD_PTR previous = SetThreadAffinityMask(thread->m_Thread, process);
    SetThreadAffinityMask(thread->m_Thread, previous);
    return previous;
}

void OsSetProcessAffinity(uint64_t mask)
{
    SetProcessAffinityMask(GetCurrentProcess(), static_cast<DWORD_PTR>(mask));
}

CFakeAffinity::CFakeAffinity(const std::vector<unsigned>&) {}
CFakeAffinity::~CFakeAffinity() {}
bool CFakeAffinity::Active() const
{
    return false;
}
std::vector<unsigned> CFakeAffinity::Allowed(uint32_t) const
{
    return {};
}

static uint32_t s_FakeCores, s_FakeThreadsPerCore;

// A core record and a cache record per core. As with the real call, too small a buffer
// fails with ERROR_INSUFFICIENT_BUFFER and the length needed.
static BOOL WINAPI FakeProcessorInformation(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION records,
                                            PDWORD length)
{
    const DWORD count = 2 * s_FakeCores, room = *length / sizeof(*records);
    const ULONG_PTR mask = static_cast<ULONG_PTR>((1ull << s_FakeThreadsPerCore) - 1);
    for (DWORD index = 0; count <= room && index < count; ++index)
        records[index] = {mask, index % 2 ? RelationCache : RelationProcessorCore, {}};
    *length = count * sizeof(*records);
    SetLastError(count <= room ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return count <= room;
}

CFakeMachine::CFakeMachine(uint32_t cores, uint32_t threads_per_core)
{
    s_FakeCores = cores;
    s_FakeThreadsPerCore = threads_per_core;
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
#include <map>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

bool OsMayRaiseThreadPriority()
{
    // Probed on the calling thread, whose nice value is put back at once.
    const int nice = getpriority(PRIO_PROCESS, 0);
    const bool permitted = setpriority(PRIO_PROCESS, 0, nice - 1) == 0;
    setpriority(PRIO_PROCESS, 0, nice);
    return permitted;
}

int OsThreadPriority(ThreadImpl* thread)
{
    return getpriority(PRIO_PROCESS, static_cast<id_t>(getpid())) -
           getpriority(PRIO_PROCESS, thread->m_ThreadId);
}

std::string OsCurrentThreadName()
{
    char name[64] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    return name;
}

std::string OsKeptName(const std::string& name)
{
    return name.substr(0, 15);
}

uint32_t OsTakeThreadExitCode(ThreadImpl* thread)
{
    void* result = reinterpret_cast<void*>(1); // when the thread cannot be joined
    pthread_join(static_cast<pthread_t>(reinterpret_cast<uintptr_t>(thread->m_Thread)), &result);
    thread->m_Thread = nullptr;
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(result));
}

bool OsCountCores(uint32_t* cores, uint32_t* logical)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::set<std::pair<int, int>> seen; // (package, core) of each logical processor
    int package = -1, value = 0;
    *logical = 0;
    for (std::string line; std::getline(cpuinfo, line);)
        if (std::sscanf(line.c_str(), "processor : %d", &value) == 1)
            ++*logical;
        else if (std::sscanf(line.c_str(), "physical id : %d", &value) == 1)
            package = value;
        else if (std::sscanf(line.c_str(), "core id : %d", &value) == 1)
            seen.insert({package, value});
    *cores = static_cast<uint32_t>(seen.size());
    return *logical > 0 && *cores > 0;
}

uint64_t OsThreadAffinity(ThreadImpl* thread)
{
    cpu_set_t set;
    if (sched_getaffinity(static_cast<pid_t>(thread->m_ThreadId), sizeof(set), &set) != 0)
        return 0;
    uint64_t mask = 0;
    for (unsigned cpu = 0; cpu < 64; ++cpu)
        mask |= CPU_ISSET(cpu, &set) ? 1ull << cpu : 0;
    return mask;
}

void OsSetProcessAffinity(uint64_t mask)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned cpu = 0; cpu < 64; ++cpu)
        if ((mask >> cpu) & 1)
            CPU_SET(cpu, &set);
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        sched_setaffinity(std::stoi(task.path().filename().string()), sizeof(set), &set);
}

// The fake machine's state: the processors every thread may use, and the masks set since.
static std::mutex s_FakeMutex;
static std::vector<unsigned> s_FakeAllowed;
static std::map<pid_t, std::vector<unsigned>> s_FakeSet;

static int FakeGetAffinity(pid_t tid, size_t size, cpu_set_t* set)
{
    if (size < CPU_ALLOC_SIZE(128))
    {
        errno = EINVAL; // as the kernel refuses a set smaller than its own
        return -1;
    }
    std::lock_guard<std::mutex> hold(s_FakeMutex);
    const auto found = s_FakeSet.find(tid);
    CPU_ZERO_S(size, set);
    for (unsigned cpu : found != s_FakeSet.end() ? found->second : s_FakeAllowed)
        CPU_SET_S(cpu, size, set);
    return 0;
}

static int FakeSetAffinity(pid_t tid, size_t size, const cpu_set_t* set)
{
    std::vector<unsigned> cpus;
    for (unsigned cpu = 0; cpu < 128; ++cpu)
        if (CPU_ISSET_S(cpu, size, set))
            cpus.push_back(cpu);
    std::lock_guard<std::mutex> hold(s_FakeMutex);
    s_FakeSet[tid == 0 ? static_cast<pid_t>(gettid()) : tid] = cpus;
    return 0;
}

CFakeAffinity::CFakeAffinity(const std::vector<unsigned>& allowed)
{
    std::lock_guard<std::mutex> hold(s_FakeMutex);
    s_FakeAllowed = allowed;
    s_FakeSet.clear();
    g_ThreadOsSeams.m_GetAffinity = &FakeGetAffinity;
    g_ThreadOsSeams.m_SetAffinity = &FakeSetAffinity;
}

CFakeAffinity::~CFakeAffinity()
{
    g_ThreadOsSeams.m_GetAffinity = &sched_getaffinity;
    g_ThreadOsSeams.m_SetAffinity = &sched_setaffinity;
}

bool CFakeAffinity::Active() const
{
    return true;
}

std::vector<unsigned> CFakeAffinity::Allowed(uint32_t thread_id) const
{
    std::lock_guard<std::mutex> hold(s_FakeMutex);
    const auto found = s_FakeSet.find(static_cast<pid_t>(thread_id));
    return found != s_FakeSet.end() ? found->second : s_FakeAllowed;
}

CFakeMachine::CFakeMachine(uint32_t cores, uint32_t threads_per_core)
{
    char pattern[] = "/tmp/fake-cpu-XXXXXX";
    m_Root = mkdtemp(pattern);
    const uint32_t processors = cores * threads_per_core;
    std::ofstream(m_Root + "/online") << "0-" << processors - 1 << "\n";
    for (uint32_t cpu = 0; cpu < processors; ++cpu)
    {
        const uint32_t first = cpu / threads_per_core * threads_per_core;
        const std::string topology = m_Root + "/cpu" + std::to_string(cpu) + "/topology";
        std::filesystem::create_directories(topology);
        // Odd processors carry only the older file name, as kernels before 5.x do.
        std::ofstream(topology + (cpu % 2 ? "/thread_siblings_list" : "/core_cpus_list"))
            << first << "-" << first + threads_per_core - 1 << "\n";
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
