// What a peer profiler does for its thread lookup: a function exported from a shared
// library that returns a C++ thread_local. The yardstick of the thread-lookup benchmarks.
#include <cstdint>

#define BENCH_PEER_API __attribute__((visibility("default")))

namespace
{
thread_local uint32_t t_PeerThreadId = 0;
uint32_t s_NextId = 0;
} // namespace

extern "C" BENCH_PEER_API uint32_t BenchPeerThreadId()
{
    if (t_PeerThreadId == 0)
        t_PeerThreadId = __atomic_add_fetch(&s_NextId, 1, __ATOMIC_RELAXED);
    return t_PeerThreadId;
}
