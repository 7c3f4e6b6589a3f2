// The performance counter: one time line for threads on different processors, the counter
// chosen and a rate true to the raw clock; run a second time with PROFILER_COUNTER=clock,
// the portable clock exactly as before. Portable, but for the OS's clocks compared with.
#include <ctime>

#include "test_support.h"

using namespace std::chrono;

// Two threads, each bound to a processor of its own where there are two, take turns: no
// reading is earlier than the thread's own last one, nor earlier by more than 1 us than the
// other thread's reading that it waited for. The read does not wait for earlier loads (that
// would double its cost), so it may run a few hundred cycles ahead of the load that ended
// the wait; counters of two processors that disagree would show far more.
TEST(Counter, OneTimeLineAcrossThreadsOnDifferentProcessors)
{
    const int64_t start = GetCounterTicks(), slack = GetCounterFrequency() / 1000000;
    std::atomic<int64_t> last{start};
    std::atomic<int> turn{0}, backwards{0}, late{0};
    const uint64_t mask = ThreadGetProcessAffinity(), first = mask & (~mask + 1);
    const uint64_t second = (mask & ~first) != 0 ? (mask & ~first) & (~(mask & ~first) + 1) : first;
    RunThreads(2, [&](int index) {
        ThreadImpl* self = ThreadAttachCurrent(index == 0 ? "Counter A" : "Counter B");
        ThreadSetAffinity(self, index == 0 ? first : second, THREAD_AFFINITY_IDEAL_PROCESSOR_ANY);
        const auto deadline = steady_clock::now() + seconds(30);
        int64_t own = 0;
        for (int i = index; i < 2000 && late == 0; i += 2)
        {
            while (turn.load(std::memory_order_acquire) != i && late == 0)
                if (steady_clock::now() > deadline)
                    late = 1;
                else
                    std::this_thread::yield();
            const int64_t seen = last.load(std::memory_order_relaxed), now = GetCounterTicks();
            backwards += now < seen - slack || now < own;
            last.store(own = now, std::memory_order_relaxed);
            turn.store(i + 1, std::memory_order_release);
        }
        ThreadDetachCurrent();
    });
    EXPECT_EQ(std::pair(late.load(), backwards.load()), std::pair(0, 0)); // in time, in order
    EXPECT_GT(last, start);
}

#if defined(_WIN32)
TEST(Counter, TheChosenCounterAndItsRate)
{
    EXPECT_STREQ(GetCounterName(), "QueryPerformanceCounter"); // steady_clock reads it too
}
#else
static int64_t ClockNs(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return now.tv_sec * 1000000000ll + now.tv_nsec;
}

// Forced, the portable clock: CLOCK_MONOTONIC nanoseconds. Otherwise, where the processors'
// counter is invariant and the kernel keeps its own clock with it, that counter. Either way
// a known sleep measured by the counter and by the raw clock agrees within 0.1 % (best of
// three tries, so that a preemption between two readings does not count).
TEST(Counter, TheChosenCounterAndItsRate)
{
    const std::string cpu = FileText("/proc/cpuinfo"),
                      source = FileText(
                          "/sys/devices/system/clocksource/clocksource0/current_clocksource");
    if (const char* force = std::getenv("PROFILER_COUNTER"); force && std::string(force) == "clock")
    {
        EXPECT_EQ(GetCounterFrequency(), 1000000000u);
        EXPECT_STREQ(GetCounterName(), "CLOCK_MONOTONIC (PROFILER_COUNTER=clock)");
        for (int i = 0; i < 100; ++i)
        {
            const int64_t before = ClockNs(CLOCK_MONOTONIC), ticks = GetCounterTicks();
            ASSERT_TRUE(before <= ticks && ticks <= ClockNs(CLOCK_MONOTONIC)) << i;
        }
    }
    else if (source == "tsc\n" && cpu.find(" constant_tsc") != std::string::npos &&
             cpu.find(" nonstop_tsc") != std::string::npos)
    {
        EXPECT_EQ(std::string(GetCounterName()).rfind("time-stamp counter / ", 0), 0u);
    }
    const double frequency = static_cast<double>(GetCounterFrequency());
    EXPECT_LE(frequency, 1e9); // 32-bit tick fields cover at least 4.29 s
    double error = 1.0;
    for (int i = 0; i < 3; ++i)
    {
        const int64_t raw = ClockNs(CLOCK_MONOTONIC_RAW), ticks = GetCounterTicks();
        std::this_thread::sleep_for(milliseconds(200));
        const double counted = static_cast<double>(GetCounterTicks() - ticks) / frequency;
        const double elapsed = static_cast<double>(ClockNs(CLOCK_MONOTONIC_RAW) - raw) / 1e9;
        error = std::min(error, std::fabs(counted / elapsed - 1.0));
    }
    EXPECT_LT(error, 1e-3);
}
#endif
