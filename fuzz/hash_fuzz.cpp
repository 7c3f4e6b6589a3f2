// Fuzz target for the lookup3 hashes: every variant on arbitrary bytes at offsets 0 to 7 of
// an exact-size heap block (so the address sanitizer sees any over-read), compared with an
// independent table-driven model that is itself checked against published values. Linux.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/hash/hash.h"
#include "fuzz_input.h"

namespace
{

uint32_t Rot(uint32_t x, int k)
{
    return (x << k) | (x >> (32 - k));
}

struct SState
{
    uint32_t m_V[3]; // a, b, c
};

// lookup3's mix and final as tables of (rotation) steps over the rotating roles of a, b, c.
void Mix(SState& s)
{
    static const int kRot[6] = {4, 6, 8, 16, 19, 4};
    for (int i = 0; i < 6; ++i)
    {
        uint32_t &x = s.m_V[i % 3], &y = s.m_V[(i + 2) % 3], &z = s.m_V[(i + 1) % 3];
        x -= y;
        x ^= Rot(y, kRot[i]);
        y += z;
    }
}

void Final(SState& s)
{
    static const int kRot[7] = {14, 11, 25, 16, 4, 14, 24};
    for (int i = 0; i < 7; ++i)
    {
        uint32_t &x = s.m_V[(i + 2) % 3], &y = s.m_V[(i + 1) % 3];
        x ^= y;
        x -= Rot(y, kRot[i]);
    }
}

// The whole input turned into words first (byte i of a word at bit 8 i, or 24 - 8 i when
// big-endian; missing bytes zero), then blocks of three; c and b out.
void Model(const uint8_t* bytes, size_t length, bool big, uint32_t init, uint32_t extraC,
           uint32_t* c, uint32_t* b)
{
    std::vector<uint32_t> words((length + 3) / 4 + 3, 0);
    for (size_t i = 0; i < length; ++i)
        words[i / 4] |= uint32_t(bytes[i]) << (big ? 24 - 8 * (i % 4) : 8 * (i % 4));
    SState s = {{init, init, init + extraC}};
    size_t block = 0, left = length;
    for (; left > 12; left -= 12, block += 3)
    {
        for (int k = 0; k < 3; ++k)
            s.m_V[k] += words[block + k];
        Mix(s);
    }
    if (left > 0)
    {
        for (int k = 0; k < 3; ++k)
            s.m_V[k] += words[block + k];
        Final(s);
    }
    *c = s.m_V[2];
    *b = s.m_V[1];
}

uint32_t ModelLittle(const uint8_t* bytes, size_t length, uint32_t seed)
{
    uint32_t c, b;
    Model(bytes, length, false, 0xDEADBEEFu + uint32_t(length) + seed, 0, &c, &b);
    return c;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The model against the published results, so a wrong model cannot agree with a wrong
    // library.
    const uint8_t* four = reinterpret_cast<const uint8_t*>("Four score and seven years ago");
    uint32_t c, b;
    Check(ModelLittle(nullptr, 0, 0) == 0xDEADBEEFu);
    Check(ModelLittle(reinterpret_cast<const uint8_t*>("abc"), 3, 0) == 0x0E397631u);
    Check(ModelLittle(reinterpret_cast<const uint8_t*>("abc"), 3, 1) == 0xF9F08E9Eu);
    Check(ModelLittle(four, 30, 0) == 0x17770551u && ModelLittle(four, 30, 1) == 0xCD628161u);
    Model(four, 30, false, 0xDEADBEEFu + 30 + 1, 0, &c, &b);
    Check(c == 0xCD628161u && b == 0x6CBEA4B3u);
    Model(four, 30, false, 0xDEADBEEFu + 30, 1, &c, &b);
    Check(c == 0xE3607CAEu && b == 0xBD371DE4u);
    return 0;
}

// Input: 8 bytes of two seeds, then the data.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint32_t seed = 0, seed2 = 0;
    if (size >= 8)
    {
        std::memcpy(&seed, data, 4);
        std::memcpy(&seed2, data + 4, 4);
        data += 8;
        size -= 8;
    }
    const uint32_t init = 0xDEADBEEFu + uint32_t(size);
    uint32_t c, b;
    for (size_t offset = 0; offset < 8; ++offset)
    {
        // Exact size: the data ends at the block's last byte (the string case adds its zero).
        uint8_t* block = static_cast<uint8_t*>(std::malloc(offset + size + (offset + size == 0)));
        uint8_t* bytes = block + offset;
        std::memcpy(bytes, data, size);
        Check(hashlittle(bytes, size, seed) == ModelLittle(data, size, seed));
        Check(HashData(bytes, size, seed) == ModelLittle(data, size, seed));
        Model(data, size, true, init + seed, 0, &c, &b);
        Check(hashbig(bytes, size, seed) == c);
        Model(data, size, false, init + seed, seed2, &c, &b);
        uint32_t pc = seed, pb = seed2;
        hashlittle2(bytes, size, &pc, &pb);
        Check(pc == c && pb == b);
        std::free(block);

        block = static_cast<uint8_t*>(std::malloc(offset + size + 1));
        std::memcpy(block + offset, data, size);
        block[offset + size] = 0;
        const char* text = reinterpret_cast<const char*>(block + offset);
        Check(HashString(text) == ModelLittle(data, std::strlen(text), 0));
        std::free(block);
    }
    // hashword: whole host-order words in an exact-size block; bytes are little-endian here.
    const size_t count = size / 4;
    uint32_t* words = static_cast<uint32_t*>(std::malloc(count * 4 + (count == 0)));
    std::memcpy(words, data, count * 4);
    Check(hashword(words, count, seed) ==
          (Model(data, count * 4, false, 0xDEADBEEFu + uint32_t(count * 4) + seed, 0, &c, &b), c));
    std::free(words);
    return 0;
}
