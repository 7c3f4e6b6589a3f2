// Fuzz target for the lookup3 hashes: the byte variants on arbitrary bytes at offsets 0 to 7
// of exact-size heap blocks (so the address sanitizer sees any over-read), against hashword,
// whose whole-word code shares nothing with them but the mix. HashString and hashlittle2
// build on hashlittle; their published values are the unit test's. Linux.
#include "fuzz_input.h"

// Input: a seed byte, then the data.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SInput in = {data, size};
    const uint32_t seed = in.Byte() * 0x01010101u;
    const uint8_t* bytes = in.m_Data;
    const size_t n = in.m_Size, count = (n + 3) / 4;
    // The bytes as words, zero-padded, in both byte orders. hashword over them, with the
    // seed making up for the padding in the initial value, is what the byte variants give.
    std::vector<uint32_t> little(count), big(count);
    for (size_t i = 0; i < n; ++i)
    {
        little[i / 4] |= uint32_t(bytes[i]) << 8 * (i % 4);
        big[i / 4] |= uint32_t(bytes[i]) << (24 - 8 * (i % 4));
    }
    const uint32_t padded = seed + uint32_t(n - 4 * count),
                   expected = hashword(little.data(), count, padded);
    for (size_t offset = 0; offset < 8; ++offset)
    {
        std::vector<uint8_t> block(offset + n);
        std::copy(bytes, bytes + n, block.begin() + offset);
        const uint8_t* key = block.data() + offset;
        Check(hashlittle(key, n, seed) == expected && HashData(key, n, seed) == expected &&
              hashbig(key, n, seed) == hashword(big.data(), count, padded));
    }
    return 0;
}
