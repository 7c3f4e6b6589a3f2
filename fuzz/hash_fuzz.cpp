// Fuzz target for the lookup3 hashes: every variant on arbitrary bytes at offsets 0 to 7 of
// an exact-size heap block (so the address sanitizer sees any over-read), compared with an
// independent byte-at-a-time model of the published algorithm. Linux.
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/hash/hash.h"
#include "fuzz_input.h"

namespace
{

uint32_t Rot(uint32_t x, int k)
{
    return x << k | x >> (32 - k);
}

// lookup3's mix and final: each step works on the next of a, b, c in turn.
void Mix(uint32_t* v)
{
    static const int kRot[6] = {4, 6, 8, 16, 19, 4};
    for (int i = 0; i < 6; ++i)
    {
        uint32_t &x = v[i % 3], &y = v[(i + 2) % 3];
        x = (x - y) ^ Rot(y, kRot[i]);
        y += v[(i + 1) % 3];
    }
}

void Final(uint32_t* v)
{
    static const int kRot[7] = {14, 11, 25, 16, 4, 14, 24};
    for (int i = 0; i < 7; ++i)
        v[(i + 2) % 3] = (v[(i + 2) % 3] ^ v[(i + 1) % 3]) - Rot(v[(i + 1) % 3], kRot[i]);
}

// Each byte added into its word (little- or big-endian), three words mixed while more than
// 12 bytes remain, the rest finalised; c and b out.
void Model(const uint8_t* bytes, size_t length, bool big, uint32_t seed, uint32_t seed2,
           uint32_t* out)
{
    const uint32_t init = 0xDEADBEEFu + uint32_t(length) + seed;
    uint32_t v[3] = {init, init, init + seed2};
    for (size_t at = 0; at < length; at += 12)
    {
        for (size_t i = 0; i < 12 && at + i < length; ++i)
            v[i / 4] += uint32_t(bytes[at + i]) << (big ? 24 - 8 * (i % 4) : 8 * (i % 4));
        length - at > 12 ? Mix(v) : Final(v);
    }
    out[0] = v[2];
    out[1] = v[1];
}

} // namespace

// Input: two seeds, then the data.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SInput in = {data, size};
    const uint32_t seed = in.Word(), seed2 = in.Word();
    const size_t length = in.m_Size, text = strnlen((const char*)in.m_Data, length);
    uint32_t little[2], big[2], both[2], word[2], string[2];
    Model(in.m_Data, length, false, seed, 0, little);
    Model(in.m_Data, length, true, seed, 0, big);
    Model(in.m_Data, length, false, seed, seed2, both);
    Model(in.m_Data, length & ~size_t(3), false, seed, 0, word);
    Model(in.m_Data, text, false, 0, 0, string);
    for (size_t offset = 0; offset < 8; ++offset)
    {
        std::unique_ptr<uint8_t[]> block(new uint8_t[offset + length]);
        uint8_t* bytes = block.get() + offset;
        std::memcpy(bytes, in.m_Data, length);
        uint32_t pair[2] = {seed, seed2};
        hashlittle2(bytes, length, &pair[0], &pair[1]);
        Check(pair[0] == both[0] && pair[1] == both[1] && hashbig(bytes, length, seed) == big[0]);
        Check(hashlittle(bytes, length, seed) == little[0] &&
              HashData(bytes, length, seed) == little[0]);
        // The string's terminator ends its block.
        std::unique_ptr<char[]> chars(new char[offset + text + 1]);
        std::memcpy(chars.get() + offset, in.m_Data, text);
        chars[offset + text] = '\0';
        Check(HashString(chars.get() + offset) == string[0]);
    }
    // Whole words in host order, which is little-endian here.
    std::unique_ptr<uint32_t[]> words(new uint32_t[length / 4]);
    std::memcpy(words.get(), in.m_Data, length / 4 * 4);
    Check(hashword(words.get(), length / 4, seed) == word[0]);
    return 0;
}
