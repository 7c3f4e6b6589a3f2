// The performance counter on POSIX: the time-stamp counter where it is invariant and the
// kernel keeps its own clock with it, CLOCK_MONOTONIC otherwise; the choice, the power-of-two
// scale and the frequency (the kernel's own conversion where it publishes one, otherwise a
// calibration against CLOCK_MONOTONIC_RAW begun when the module loads). Per-OS.
#include "common/time/counter.h"
#include "platform/os.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/perf_event.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

constinit std::atomic<uint32_t> g_CounterShift{COUNTER_SHIFT_CLOCK + 1};

namespace
{

// The scaled counter ticks at most this fast, so 32-bit tick fields cover at least
// 2^32 / 0.99e9 = 4.34 s. The shift changes where the counter's rate crosses 0.99, 1.98
// or 3.96 GHz: away from the round rates that processors run their counters at, so that
// every module of the process, each deciding for itself, picks the same shift.
constexpr double COUNTER_MAX_RATE = 0.99e9;
// The calibration ends once its error bound is below this, or after COUNTER_LONGEST_NS.
constexpr double COUNTER_TARGET_ERROR = 1e-5;
constexpr int64_t COUNTER_LONGEST_NS = 50000000;
// The first estimate, which only has to place the shift, spans at least this much: with
// samples within +-20 ns, +-0.04 %.
constexpr int64_t COUNTER_ROUGH_NS = 100000;

// Where the frequency came from: the kernel (true) or the calibration. Written before the
// frequency's one-time initialisation completes.
bool s_FromKernel = false;

// A time-stamp counter reading and the raw clock at that moment, within +-m_HalfWidthNs.
struct SCounterSample
{
    uint64_t m_Stamp;
    int64_t m_RawNs;
    int64_t m_HalfWidthNs;
};

struct SCounterSetup
{
    uint32_t m_Shift;      // as g_CounterShift
    SCounterSample m_Load; // the calibration's first sample
    const char* m_Why;     // why CLOCK_MONOTONIC, when it is
};

int64_t ClockNs(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000ll + now.tv_nsec;
}

uint64_t ReadStamp()
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_ia32_rdtsc();
#else
    return 0;
#endif
}

// The narrowest of a few raw-stamp-raw brackets: an interruption inside one bracket costs
// nothing but that bracket.
SCounterSample Sample()
{
    SCounterSample best = {0, 0, INT64_MAX};
    for (int i = 0; i < 5; ++i)
    {
        const int64_t before = ClockNs(CLOCK_MONOTONIC_RAW);
        const uint64_t stamp = ReadStamp();
        const int64_t after = ClockNs(CLOCK_MONOTONIC_RAW);
        if ((after - before) / 2 + 1 < best.m_HalfWidthNs)
            best = {stamp, before + (after - before) / 2, (after - before) / 2 + 1};
    }
    return best;
}

double Rate(const SCounterSample& from, const SCounterSample& to)
{
    return static_cast<double>(to.m_Stamp - from.m_Stamp) * 1e9 /
           static_cast<double>(to.m_RawNs - from.m_RawNs);
}

// The first bytes of a file as text (at most size - 1), empty when it cannot be read. Only
// the start of /proc/cpuinfo is read: the kernel builds it processor by processor.
void ReadStart(const char* path, char* text, size_t size)
{
    size_t length = 0;
    const int file = open(path, O_RDONLY | O_CLOEXEC);
    if (file >= 0)
    {
        ssize_t got;
        while (length + 1 < size && (got = read(file, text + length, size - 1 - length)) > 0)
            length += static_cast<size_t>(got);
        close(file);
    }
    text[length] = '\0';
}

bool HasWord(const char* line, const char* lineEnd, const char* word)
{
    const size_t length = std::strlen(word);
    for (const char* at = std::strstr(line, word); at != nullptr && at < lineEnd;
         at = std::strstr(at + 1, word))
        if (at[-1] == ' ' && (at[length] == ' ' || at[length] == '\n' || at[length] == '\0'))
            return true;
    return false;
}

// Null when the time-stamp counter is sound here, else the reason it is not: the counter
// must run at one rate in every power state (constant_tsc, nonstop_tsc), and the kernel
// must keep its own clock with it, which it stops doing when it finds the counters of two
// processors apart.
const char* StampUnsound()
{
#if !defined(__x86_64__) && !defined(__i386__)
    return "no time-stamp counter";
#else
    const char* force = std::getenv("PROFILER_COUNTER");
    if (force != nullptr && std::strcmp(force, "clock") == 0)
        return "PROFILER_COUNTER=clock";
    timespec raw;
    if (clock_gettime(CLOCK_MONOTONIC_RAW, &raw) != 0)
        return "no CLOCK_MONOTONIC_RAW to calibrate against";
    static char s_Text[16384];
    ReadStart("/proc/cpuinfo", s_Text, sizeof(s_Text));
    const char* flags = std::strstr(s_Text, "\nflags");
    const char* end = flags != nullptr ? std::strchr(flags + 1, '\n') : nullptr;
    if (end == nullptr || !HasWord(flags, end, "constant_tsc") ||
        !HasWord(flags, end, "nonstop_tsc"))
        return "time-stamp counter not invariant";
    ReadStart("/sys/devices/system/clocksource/clocksource0/current_clocksource", s_Text, 64);
    if (std::strcmp(s_Text, "tsc\n") != 0)
        return "kernel clocksource not tsc";
    return nullptr;
#endif
}

// The kernel's own rate for the counter, from a perf event's page where it reads the counter
// for its scheduler clock (ns = count * time_mult >> time_shift); 0 where it does not, as in
// most virtual machines, or where perf events are refused.
double KernelStampFrequency()
{
    perf_event_attr attr;
    std::memset(&attr, 0, sizeof(attr));
    attr.size = sizeof(attr);
    attr.type = PERF_TYPE_SOFTWARE;
    attr.config = PERF_COUNT_SW_DUMMY;
    attr.disabled = 1;
    attr.exclude_kernel = 1;
    attr.exclude_hv = 1;
    const int event = static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
    if (event < 0)
        return 0.0;
    double frequency = 0.0;
    const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* page = mmap(nullptr, size, PROT_READ, MAP_SHARED, event, 0);
    if (page != MAP_FAILED)
    {
        const volatile perf_event_mmap_page* info = static_cast<perf_event_mmap_page*>(page);
        uint32_t sequence;
        do
        {
            sequence = info->lock;
            std::atomic_signal_fence(std::memory_order_acquire);
            if (info->cap_bit0_is_deprecated && info->cap_user_time && info->time_mult != 0)
                frequency = std::ldexp(1e9, info->time_shift) / info->time_mult;
            std::atomic_signal_fence(std::memory_order_acquire);
        } while (info->lock != sequence);
        munmap(page, size);
    }
    close(event);
    return frequency;
}

SCounterSetup Decide()
{
    SCounterSetup setup = {COUNTER_SHIFT_CLOCK, {}, StampUnsound()};
    if (setup.m_Why == nullptr)
    {
        setup.m_Load = Sample();
        SCounterSample now;
        do
            now = Sample();
        while (now.m_RawNs - setup.m_Load.m_RawNs < COUNTER_ROUGH_NS);
        double rate = Rate(setup.m_Load, now);
        if (!(rate >= 1e6 && rate < 1e11))
            setup.m_Why = "time-stamp counter rate implausible";
        else
            for (setup.m_Shift = 0; rate > COUNTER_MAX_RATE; rate /= 2)
                ++setup.m_Shift;
    }
    g_CounterShift.store(setup.m_Shift, std::memory_order_relaxed);
    return setup;
}

const SCounterSetup& Setup()
{
    static const SCounterSetup s_Setup = Decide();
    return s_Setup;
}

// Decides when the module loads, so the calibration's interval begins then.
const bool s_DecidedAtLoad = (Setup(), true);

// The calibration: the first sample's time to now, until the two samples' uncertainty is
// below COUNTER_TARGET_ERROR of the interval or the interval reaches COUNTER_LONGEST_NS.
double Calibrate(const SCounterSample& load)
{
    SCounterSample now = Sample();
    for (;;)
    {
        const int64_t needed = static_cast<int64_t>(
            static_cast<double>(load.m_HalfWidthNs + now.m_HalfWidthNs) / COUNTER_TARGET_ERROR);
        const int64_t wait = std::min(needed, COUNTER_LONGEST_NS) - (now.m_RawNs - load.m_RawNs);
        if (wait <= 0)
            break;
        timespec pause = {static_cast<time_t>(wait / 1000000000),
                          static_cast<long>(wait % 1000000000)};
        nanosleep(&pause, nullptr);
        now = Sample();
    }
    return Rate(load, now);
}

// The kernel's conversion where it publishes one; asked at the first use rather than at
// load, since creating the first perf event of a thread can take milliseconds.
uint64_t Frequency()
{
    const SCounterSetup& setup = Setup();
    if (setup.m_Shift >= COUNTER_SHIFT_CLOCK)
        return 1000000000ull;
    double rate = KernelStampFrequency();
    s_FromKernel = rate != 0.0;
    if (!s_FromKernel)
        rate = Calibrate(setup.m_Load);
    return static_cast<uint64_t>(std::llround(std::ldexp(rate, -static_cast<int>(setup.m_Shift))));
}

} // namespace

int64_t CounterReadClock()
{
    if (g_CounterShift.load(std::memory_order_relaxed) > COUNTER_SHIFT_CLOCK)
        return Setup(), GetCounterTicks();
    return ClockNs(CLOCK_MONOTONIC);
}

uint64_t OsCounterFrequency()
{
    static const uint64_t s_Frequency = Frequency();
    return s_Frequency;
}

const char* OsCounterName()
{
    struct SName
    {
        char m_Text[96];
    };
    static const SName s_Name = [] {
        SName name;
        OsCounterFrequency();
        const SCounterSetup& setup = Setup();
        if (setup.m_Shift >= COUNTER_SHIFT_CLOCK)
            std::snprintf(name.m_Text, sizeof(name.m_Text), "CLOCK_MONOTONIC (%s)", setup.m_Why);
        else
            std::snprintf(name.m_Text, sizeof(name.m_Text), "time-stamp counter / %u (rate %s)",
                          1u << setup.m_Shift,
                          s_FromKernel ? "from the kernel's perf page"
                                       : "calibrated against CLOCK_MONOTONIC_RAW");
        return name;
    }();
    return s_Name.m_Text;
}
