// The cached counter frequency and the counter's description. Portable; the counter and
// its frequency come from the per-OS units.
#include "common/time/counter.h"

#include <atomic>

#include "platform/os.h"

alignas(8) static uint64_t s_CounterFrequency = 0;

uint64_t GetCounterFrequency()
{
    std::atomic_ref<uint64_t> cache(s_CounterFrequency);
    uint64_t frequency = cache.load(std::memory_order_relaxed);
    if (frequency == 0)
    {
        frequency = OsCounterFrequency();
        cache.store(frequency, std::memory_order_relaxed);
    }
    return frequency;
}

const char* GetCounterName()
{
    GetCounterFrequency(); // where the frequency comes from is known once it is
    return OsCounterName();
}
