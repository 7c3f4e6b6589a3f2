// Thread creation, naming, affinity and processor information on POSIX (Linux), and the
// OS's side of adoption, priorities and binding (platform/os.h): pthreads, per-thread nice
// values, sched_setaffinity and the sysfs CPU topology. Per-OS; the portable half of the
// thread layer is common/thread/thread.cpp and common/thread/affinity.cpp.

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "common/debug/assert.h"
#include "common/debug/utf8.h"
#include "common/thread/affinity.h"
#include "common/thread/thread.h"
#include "platform/os.h"

// The sysfs CPU directory: "online" lists the online processors and
// cpuN/topology/core_cpus_list (or thread_siblings_list) the processors of N's core.
static const char* const s_CpuRoot = "/sys/devices/system/cpu";

// The failure reports carry the same texts on both OSes, so the names they quote exist here.
static const int FALSE = 0;

static_assert(sizeof(pthread_t) <= sizeof(void*), "a pthread_t must fit ThreadImpl::m_Thread");

static void* WidenHandle(pthread_t handle)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(handle));
}

uint32_t ThreadGetCurrentId()
{
    // The kernel's thread id, what debuggers and /proc show for the thread.
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

uint32_t ThreadGetId(ThreadImpl* thread)
{
    return thread->m_ThreadId;
}

// ---- affinity masks ----

// The OS masks are pointer-wide, as on Windows: a 32-bit process uses the low 32 bits.
static const uint64_t s_MaskBits = sizeof(void*) == 4 ? 0xFFFFFFFFull : ~0ull;

// A CPU set big enough for the kernel's processor count (sched_getaffinity refuses a set
// smaller than that).
class CCpuSet
{
public:
    CCpuSet() { Resize(1024); }
    ~CCpuSet() { CPU_FREE(m_Set); }
    CCpuSet(const CCpuSet&) = delete;
    CCpuSet& operator=(const CCpuSet&) = delete;

    bool Read(pid_t tid)
    {
        while (sched_getaffinity(tid, m_Size, m_Set) != 0)
        {
            if (errno != EINVAL || m_Count >= 1 << 20)
                return false;
            Resize(m_Count * 2);
        }
        return true;
    }
    bool Write(pid_t tid) const { return sched_setaffinity(tid, m_Size, m_Set) == 0; }
    uint64_t Mask() const
    {
        uint64_t mask = 0;
        for (int cpu = 0; cpu < 64; ++cpu)
            if (CPU_ISSET_S(cpu, m_Size, m_Set))
                mask |= 1ull << cpu;
        return mask & s_MaskBits;
    }
    void SetMask(uint64_t mask)
    {
        CPU_ZERO_S(m_Size, m_Set);
        mask &= s_MaskBits;
        for (int cpu = 0; cpu < 64; ++cpu)
            if ((mask >> cpu) & 1)
                CPU_SET_S(cpu, m_Size, m_Set);
    }

private:
    void Resize(int count)
    {
        if (m_Set != nullptr)
            CPU_FREE(m_Set);
        m_Count = count;
        m_Set = CPU_ALLOC(count);
        m_Size = CPU_ALLOC_SIZE(count);
    }
    cpu_set_t* m_Set = nullptr;
    size_t m_Size = 0;
    int m_Count = 0;
};

// Calls visit(tid) for every thread of the process; false when the list cannot be read.
template <typename Visit> static bool ForEachProcessThread(Visit visit)
{
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return false;
    while (dirent* entry = readdir(tasks))
    {
        char* end = nullptr;
        long tid = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && tid > 0)
            visit(static_cast<pid_t>(tid));
    }
    closedir(tasks);
    return true;
}

// Linux keeps no process mask apart from its threads' masks. The process mask is the one
// that the application set with ThreadSetProcessAffinity, which every thread created since
// starts with, as on Windows; 0 while it has set none, and then new threads keep the mask
// that they inherit from their creator (what taskset or the administrator gave the
// process, with every processor past the mask word). Each module that links the platform
// layer keeps its own.
static std::atomic<uint64_t> s_SetProcessMask{0};

// The processors of the mask word that some thread of the process may use, read now;
// false when no thread's mask could be read.
static bool ReadProcessMask(uint64_t* mask)
{
    *mask = 0;
    bool read = false;
    CCpuSet set;
    ForEachProcessThread([&](pid_t tid) {
        // A thread that ends during the walk is not there to count.
        if (set.Read(tid))
        {
            *mask |= set.Mask();
            read = true;
        }
    });
    if (!read && set.Read(0))
    {
        *mask = set.Mask();
        read = true;
    }
    return read;
}

// ---- creation ----

// Hand-over between a creator and its new thread, on the heap because the new thread uses
// it after the creator has returned; the new thread frees it. The new thread publishes its
// kernel id (needed to name and prioritise it), then waits until the creator has stored
// its handle and applied its name and priority.
struct SThreadStart
{
    ThreadImpl* m_Thread;
    sem_t m_IdPublished; // posted by the new thread
    sem_t m_Released;    // posted by the creator
};

static void WaitUninterrupted(sem_t* semaphore)
{
    while (sem_wait(semaphore) != 0 && errno == EINTR)
    {
    }
}

static void* ThreadStartRoutine(void* param)
{
    auto* start = static_cast<SThreadStart*>(param);
    ThreadImpl* thread = start->m_Thread;
    thread->m_ThreadId = ThreadGetCurrentId();
    // A process mask set through the layer replaces the creator's, as on Windows.
    const uint64_t process_mask = s_SetProcessMask.load();
    if (process_mask != 0)
    {
        CCpuSet set;
        set.SetMask(process_mask);
        set.Write(0);
    }
    sem_post(&start->m_IdPublished);
    WaitUninterrupted(&start->m_Released);
    // The creator touches neither semaphore after its post of m_Released.
    sem_destroy(&start->m_IdPublished);
    sem_destroy(&start->m_Released);
    delete start;

    ThreadRunCreated(thread);
    return nullptr; // the exit code: always 0
}

// A Windows thread's requested size is the stack committed at first; its reservation is
// the executable's default unless the request is larger. POSIX stacks are committed page
// by page as they are touched, so the matching size is the default stack size, or the
// rounded request when that is larger.
static size_t StackSizeFor(uint32_t requested, const pthread_attr_t* attributes)
{
    size_t size = 0;
    pthread_attr_getstacksize(attributes, &size);
    size_t rounded = ThreadStackSizeToOs(requested);
    return rounded > size ? rounded : size;
}

ThreadImpl* ThreadCreate(const char* name, ThreadEntryFunc entry, void* arg, uint32_t stack_size)
{
    name = ThreadCheckName(name);
    const SThreadConfigEntry* config = ThreadFindConfig(name);
    auto* thread = new ThreadImpl(entry, arg, config->m_InitCallbackArg, config->m_InitCallback);

    auto* start = new SThreadStart;
    start->m_Thread = thread;
    sem_init(&start->m_IdPublished, 0, 0);
    sem_init(&start->m_Released, 0, 0);

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, StackSizeFor(stack_size, &attributes));
    pthread_t handle;
    int created = pthread_create(&handle, &attributes, &ThreadStartRoutine, start);
    pthread_attr_destroy(&attributes);

    if (created == 0)
    {
        WaitUninterrupted(&start->m_IdPublished);
        thread->m_Thread = WidenHandle(handle);
    }
    else
    {
        sem_destroy(&start->m_IdPublished);
        sem_destroy(&start->m_Released);
        delete start;
    }
    PLATFORM_ASSERT(thread->m_Thread != NULL);
    ThreadApplyConfig(thread, name);
    if (created == 0)
        sem_post(&start->m_Released);
    return thread;
}

void ThreadDestroy(ThreadImpl* thread)
{
    if (thread->m_Thread != NULL)
        pthread_join(static_cast<pthread_t>(reinterpret_cast<uintptr_t>(thread->m_Thread)),
                     nullptr);
    delete thread;
}

// ---- adoption ----

void OsThreadAdoptCurrent(ThreadImpl* thread)
{
    // pthread_self stands for this thread from any thread, unlike a Windows pseudo-handle.
    thread->m_Thread = WidenHandle(pthread_self());
    thread->m_ThreadId = ThreadGetCurrentId();
}

void OsThreadReleaseAdopted(ThreadImpl* /*thread*/)
{
    // Adoption took nothing that must be given back.
}

// ---- priorities ----

// Windows priorities are relative to the process's priority class; here they are relative
// to the nice value of the process (its main thread) when priorities were first used.
// Raising a thread above that base (and, for an unprivileged process, lowering a nice value
// at all) needs CAP_SYS_NICE or RLIMIT_NICE; without it the kernel refuses, the refusal is
// not reported (as SetThreadPriority's is not), and ThreadGetPriority reads the priority
// that the thread really has.
static int ProcessNice()
{
    static const int s_Nice = [] {
        errno = 0;
        int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        return errno == 0 ? nice : 0;
    }();
    return s_Nice;
}

void OsThreadSetPriority(ThreadImpl* thread, int32_t os_priority)
{
    // Id 0 would mean the calling thread to setpriority: an object without a thread has none.
    if (thread->m_ThreadId != 0)
        setpriority(PRIO_PROCESS, thread->m_ThreadId, ProcessNice() - os_priority);
}

bool OsThreadGetPriority(ThreadImpl* thread, int32_t* os_priority)
{
    if (thread->m_ThreadId == 0)
        return false;
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, thread->m_ThreadId);
    if (errno != 0)
        return false;
    *os_priority = ProcessNice() - nice;
    return true;
}

// ---- naming ----

// The kernel keeps 15 bytes of a thread's name. The cut falls between two characters so
// tools do not show half a character.
static void KernelName(const char* name, char (&kept)[16])
{
    const size_t length = Utf8CutLength(name, sizeof(kept) - 1);
    std::memcpy(kept, name, length);
    kept[length] = '\0';
}

void ThreadAnnounceName(uint32_t thread_id, const char* name)
{
    // There is no debugger exception here: debuggers and /proc show the kernel's name.
    if (thread_id == 0)
        return;
    char kept[16];
    KernelName(name, kept);
    if (thread_id == ThreadGetCurrentId())
    {
        pthread_setname_np(pthread_self(), kept);
        return;
    }
    // Another thread, known by its kernel id: write its comm file, as pthread_setname_np
    // does for a thread other than the caller.
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/self/task/%u/comm", thread_id);
    int file = open(path, O_WRONLY | O_CLOEXEC);
    if (file < 0)
        return;
    ssize_t written = write(file, kept, std::strlen(kept));
    (void)written;
    close(file);
}

uint32_t ThreadGetStackSize()
{
    // POSIX stacks have no committed part to measure: pages are committed as they are
    // touched. The extent reported is the thread's whole stack mapping.
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0)
        return 0;
    void* base = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attributes, &base, &size);
    pthread_attr_destroy(&attributes);
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

// ---- affinity ----

uint64_t ThreadGetProcessAffinity()
{
    // A process that may use only processors past the mask word reads as 0: that is no
    // refusal.
    uint64_t mask = s_SetProcessMask.load();
    if (mask != 0)
        return mask;
    int ret = ReadProcessMask(&mask) ? 1 : FALSE;
    PLATFORM_ASSERT(ret != FALSE);
    return mask;
}

// Sets every thread of the process, as SetProcessAffinityMask does; threads created later
// start with the new mask. A thread that ends during the walk (ESRCH) is not a refusal.
void ThreadSetProcessAffinity(uint64_t affinity_mask)
{
    CCpuSet set;
    set.SetMask(affinity_mask);
    bool refused = false;
    bool listed = ForEachProcessThread([&](pid_t tid) {
        if (!set.Write(tid) && errno != ESRCH)
            refused = true;
    });
    int ret = listed && !refused ? 1 : FALSE;
    PLATFORM_ASSERT(ret != FALSE);
    // The kernel drops processors that do not exist: keep what it applied.
    if (ret != FALSE && set.Read(0))
        s_SetProcessMask.store(set.Mask());
}

uint64_t OsThreadSetAffinityMask(ThreadImpl* thread, uint64_t affinity_mask)
{
    // 0 when the kernel refuses, as SetThreadAffinityMask's result is. Id 0 would mean the
    // calling thread: an object without a thread has none.
    CCpuSet set;
    pid_t tid = static_cast<pid_t>(thread->m_ThreadId);
    if (tid == 0 || !set.Read(tid))
        return 0;
    uint64_t previous = set.Mask();
    set.SetMask(affinity_mask);
    return set.Write(tid) ? previous : 0;
}

int OsThreadSetIdealProcessor(ThreadImpl* /*thread*/, int32_t /*ideal_proc*/)
{
    // Linux schedules without an ideal processor: the request is refused, as Windows
    // refuses an ideal processor that it cannot set.
    return -1;
}

uint64_t ThreadGetAffinity(ThreadImpl* thread, int32_t* ideal_proc)
{
    // Read directly: no need to set a mask and take the previous one back as on Windows.
    uint64_t mask = 0;
    CCpuSet set;
    pid_t tid = static_cast<pid_t>(thread->m_ThreadId);
    if (tid != 0 && set.Read(tid))
        mask = set.Mask();
    if (ideal_proc != NULL)
        *ideal_proc = -1; // no ideal processor to read
    return mask;
}

// ---- processor information ----

// No standard-library containers or strings here: their template instances would be
// exported from the shared library that links this unit.

// Reads a small sysfs file into text, without its trailing newline.
static bool ReadSmallFile(const char* path, char (&text)[4096])
{
    FILE* file = std::fopen(path, "re");
    if (file == nullptr)
        return false;
    size_t length = std::fread(text, 1, sizeof(text) - 1, file);
    std::fclose(file);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == ' '))
        --length;
    text[length] = '\0';
    return true;
}

// Calls visit(cpu) for each processor of a sysfs CPU list such as "0-3,5,8-9"; false on
// anything else.
template <typename Visit> static bool ForEachListedCpu(const char* text, Visit visit)
{
    const char* at = text;
    while (*at != '\0')
    {
        char* end = nullptr;
        unsigned long first = std::strtoul(at, &end, 10);
        if (end == at)
            return false;
        unsigned long last = first;
        at = end;
        if (*at == '-')
        {
            last = std::strtoul(at + 1, &end, 10);
            if (end == at + 1 || last < first || last > UINT_MAX)
                return false;
            at = end;
        }
        for (unsigned long cpu = first; cpu <= last; ++cpu)
            visit(static_cast<unsigned>(cpu));
        if (*at == ',')
            ++at;
        else if (*at != '\0')
            return false;
    }
    return true;
}

// The lowest-numbered processor of cpu's core, from its sibling list (sysfs lists are in
// ascending order); cpu itself when the topology cannot be read.
static unsigned FirstOfCore(unsigned cpu)
{
    static const char* const s_Names[] = {"core_cpus_list", "thread_siblings_list"};
    char path[PATH_MAX];
    char text[4096];
    for (const char* name : s_Names)
    {
        std::snprintf(path, sizeof(path), "%s/cpu%u/topology/%s", s_CpuRoot, cpu, name);
        char* end = nullptr;
        if (ReadSmallFile(path, text))
        {
            unsigned long first = std::strtoul(text, &end, 10);
            if (end != text)
                return static_cast<unsigned>(first);
        }
    }
    return cpu;
}

uint32_t ThreadGetNumProcessors(uint32_t* num_cores)
{
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    uint32_t reported = online > 0 ? static_cast<uint32_t>(online) : 1;
    if (num_cores == NULL)
        return reported;

    // Every online processor counts once; a core counts once, with its lowest processor
    // (the kernel lists only online processors as siblings).
    char path[PATH_MAX];
    char text[4096];
    std::snprintf(path, sizeof(path), "%s/online", s_CpuRoot);
    uint32_t logical = 0;
    uint32_t cores = 0;
    bool listed = ReadSmallFile(path, text) && ForEachListedCpu(text, [&](unsigned cpu) {
                      ++logical;
                      if (FirstOfCore(cpu) == cpu)
                          ++cores;
                  });
    if (!listed || logical == 0 || cores == 0)
    {
        // No topology to read: every processor counts as a core.
        *num_cores = reported;
        return reported;
    }
    *num_cores = cores;
    return logical;
}

uint32_t ThreadGetCurrentProcessor()
{
    int cpu = sched_getcpu();
    return cpu >= 0 ? static_cast<uint32_t>(cpu) : 0;
}
