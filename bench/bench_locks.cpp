// Lock and unlock pairs of the spinlock and the mutex, alone and with two threads
// contending on a tiny critical section, against the standard mutexes.
#include <mutex>

#include "bench_support.h"
#include "common/thread/mutex.h"
#include "common/thread/synchronization.h"

namespace
{

struct SSpinlock
{
    ThreadSpinlockData m_Data{};
    SSpinlock() { ThreadSpinlockInit(&m_Data); }
    void lock() { ThreadSpinlockLock(&m_Data); }
    void unlock() { ThreadSpinlockUnlock(&m_Data); }
};

struct SMutex
{
    ThreadMutex m_Mutex{};
    SMutex() { ThreadMutexInit(&m_Mutex); }
    void lock() { ThreadMutexLock(&m_Mutex); }
    void unlock() { ThreadMutexUnlock(&m_Mutex); }
};

// One lock shared by the benchmark's threads; the critical section bumps one counter. Lock
// and counter share a cache line of their own, so every kind of lock is measured with the
// same layout and no neighbour's traffic.
template <typename TLock> struct alignas(64) SShared
{
    TLock m_Lock;
    volatile uint64_t m_Counter = 0;
};

template <typename TLock> void BM_LockPair(benchmark::State& state)
{
    static SShared<TLock> s_Shared;
    for (auto _ : state)
    {
        s_Shared.m_Lock.lock();
        s_Shared.m_Counter = s_Shared.m_Counter + 1;
        s_Shared.m_Lock.unlock();
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_LockPair<SSpinlock>)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_LockPair<std::mutex>)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_LockPair<SMutex>)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_LockPair<std::recursive_mutex>)->Threads(1)->Threads(2)->UseRealTime();

BENCH_MAIN()
