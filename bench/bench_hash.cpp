// HashString and hashlittle throughput at 16 bytes, 64 bytes and 64 KiB, at an aligned
// and at an odd address.
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "common/hash/hash.h"

namespace
{

// args: length, offset from an 8-byte-aligned address
void BM_hashlittle(benchmark::State& state)
{
    const size_t length = static_cast<size_t>(state.range(0));
    std::vector<uint64_t> storage(length / 8 + 2, 0x5A5A5A5A5A5A5A5Aull);
    const char* key = reinterpret_cast<const char*>(storage.data()) + state.range(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(hashlittle(key, length, 0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

void BM_HashString(benchmark::State& state)
{
    const size_t length = static_cast<size_t>(state.range(0));
    std::vector<uint64_t> storage(length / 8 + 2, 0);
    char* text = reinterpret_cast<char*>(storage.data()) + state.range(1);
    std::memset(text, 'h', length);
    for (auto _ : state)
        benchmark::DoNotOptimize(HashString(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

} // namespace

BENCHMARK(BM_hashlittle)->ArgsProduct({{16, 64, 65536}, {0, 1}});
BENCHMARK(BM_HashString)->ArgsProduct({{16, 64, 65536}, {0, 1}});

BENCH_MAIN()
