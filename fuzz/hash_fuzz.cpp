// Fuzz target for the lookup3 hashes: every byte variant on arbitrary bytes at offsets 0 to
// 7 of exact-size heap blocks (so the address sanitizer sees any over-read), against
// hashword, whose whole-word code shares nothing with them but the mix. Linux.
#include <algorithm>
#include <cstring>
#include <vector>

#include "common/hash/hash.h"
#include "fuzz_input.h"

// Input: a seed byte, then the data.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SInput in = {data, size};
    const uint32_t seed = in.Byte() * 0x01010101u;
    const uint8_t* bytes = in.m_Data;
    const size_t n = in.m_Size, count = (n + 3) / 4,
                 text = strnlen(reinterpret_cast<const char*>(bytes), n);
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
        std::vector<uint8_t> block(offset + n), string(offset + text + 1); // ends in a zero
        std::copy(bytes, bytes + n, block.begin() + offset);
        std::copy(bytes, bytes + text, string.begin() + offset);
        const uint8_t* key = block.data() + offset;
        uint32_t pair[2] = {seed, 0}; // the first half of the 64-bit variant, when b starts at 0
        hashlittle2(key, n, &pair[0], &pair[1]);
        Check(hashlittle(key, n, seed) == expected && HashData(key, n, seed) == expected &&
              pair[0] == expected);
        Check(hashbig(key, n, seed) == hashword(big.data(), count, padded) &&
              HashString(reinterpret_cast<const char*>(&string[offset])) ==
                  hashlittle(bytes, text, 0));
    }
    return 0;
}
