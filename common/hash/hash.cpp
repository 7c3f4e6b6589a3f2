// lookup3 (Bob Jenkins, 2006, public domain), byte-at-a-time so the result depends only
// on the bytes: never on alignment or host byte order. Portable.
#include "common/hash/hash.h"

#include <cstring>

namespace
{

inline uint32_t Rot(uint32_t x, int k)
{
    return (x << k) | (x >> (32 - k));
}

// clang-format off
inline void Mix(uint32_t& a, uint32_t& b, uint32_t& c)
{
    a -= c; a ^= Rot(c, 4);  c += b;
    b -= a; b ^= Rot(a, 6);  a += c;
    c -= b; c ^= Rot(b, 8);  b += a;
    a -= c; a ^= Rot(c, 16); c += b;
    b -= a; b ^= Rot(a, 19); a += c;
    c -= b; c ^= Rot(b, 4);  b += a;
}

inline void Final(uint32_t& a, uint32_t& b, uint32_t& c)
{
    c ^= b; c -= Rot(b, 14);
    a ^= c; a -= Rot(c, 11);
    b ^= a; b -= Rot(a, 25);
    c ^= b; c -= Rot(b, 16);
    a ^= c; a -= Rot(c, 4);
    b ^= a; b -= Rot(a, 14);
    c ^= b; c -= Rot(b, 24);
}

// clang-format on

// Word i of a block of up to 12 bytes, with missing high bytes counted as zero.
inline uint32_t LittleWord(const uint8_t* k, size_t available)
{
    uint32_t word = 0;
    for (size_t i = 0; i < 4 && i < available; ++i)
        word |= static_cast<uint32_t>(k[i]) << (8 * i);
    return word;
}

inline uint32_t BigWord(const uint8_t* k, size_t available)
{
    uint32_t word = 0;
    for (size_t i = 0; i < 4 && i < available; ++i)
        word |= static_cast<uint32_t>(k[i]) << (24 - 8 * i);
    return word;
}

// Whole words of the block loop. The fixed byte pattern is a single load where the host
// allows it (any alignment on x86), and stays bit-exact everywhere else.
inline uint32_t LittleWord4(const uint8_t* k)
{
    return static_cast<uint32_t>(k[0]) | static_cast<uint32_t>(k[1]) << 8 |
           static_cast<uint32_t>(k[2]) << 16 | static_cast<uint32_t>(k[3]) << 24;
}

inline uint32_t BigWord4(const uint8_t* k)
{
    return static_cast<uint32_t>(k[0]) << 24 | static_cast<uint32_t>(k[1]) << 16 |
           static_cast<uint32_t>(k[2]) << 8 | static_cast<uint32_t>(k[3]);
}

inline size_t Remaining(size_t length, size_t offset)
{
    return length > offset ? length - offset : 0;
}

// The shared body of hashlittle, hashlittle2 and hashbig. Returns false when the input
// was empty (no final mix).
template <uint32_t (*Word4)(const uint8_t*), uint32_t (*Word)(const uint8_t*, size_t)>
bool HashBytes(const uint8_t* k, size_t length, uint32_t& outA, uint32_t& outB, uint32_t& outC)
{
    // Locals, not the references: the input bytes may alias anything, so state kept behind
    // references would go through memory at every step of the mix.
    uint32_t a = outA, b = outB, c = outC;
    while (length > 12)
    {
        a += Word4(k);
        b += Word4(k + 4);
        c += Word4(k + 8);
        Mix(a, b, c);
        length -= 12;
        k += 12;
    }
    if (length == 0)
    {
        outA = a, outB = b, outC = c;
        return false;
    }
    a += Word(k, length);
    b += Word(k + 4, Remaining(length, 4));
    c += Word(k + 8, Remaining(length, 8));
    Final(a, b, c);
    outA = a, outB = b, outC = c;
    return true;
}

} // namespace

uint32_t hashlittle(const void* key, size_t length, uint32_t seed)
{
    uint32_t a, b, c;
    a = b = c = 0xDEADBEEFu + static_cast<uint32_t>(length) + seed;
    HashBytes<LittleWord4, LittleWord>(static_cast<const uint8_t*>(key), length, a, b, c);
    return c;
}

void hashlittle2(const void* key, size_t length, uint32_t* pc, uint32_t* pb)
{
    uint32_t a, b, c;
    a = b = c = 0xDEADBEEFu + static_cast<uint32_t>(length) + *pc;
    c += *pb;
    HashBytes<LittleWord4, LittleWord>(static_cast<const uint8_t*>(key), length, a, b, c);
    *pc = c;
    *pb = b;
}

uint32_t hashbig(const void* key, size_t length, uint32_t seed)
{
    uint32_t a, b, c;
    a = b = c = 0xDEADBEEFu + static_cast<uint32_t>(length) + seed;
    HashBytes<BigWord4, BigWord>(static_cast<const uint8_t*>(key), length, a, b, c);
    return c;
}

uint32_t hashword(const uint32_t* k, size_t length, uint32_t seed)
{
    uint32_t a, b, c;
    a = b = c = 0xDEADBEEFu + (static_cast<uint32_t>(length) << 2) + seed;
    while (length > 3)
    {
        a += k[0];
        b += k[1];
        c += k[2];
        Mix(a, b, c);
        length -= 3;
        k += 3;
    }
    if (length == 0)
        return c;
    a += k[0];
    if (length > 1)
        b += k[1];
    if (length > 2)
        c += k[2];
    Final(a, b, c);
    return c;
}

uint32_t HashString(const char* string)
{
    if (string == nullptr)
        string = "";
    return hashlittle(string, std::strlen(string), 0);
}

uint32_t HashData(const void* data, size_t length, uint32_t seed)
{
    return hashlittle(data, length, seed);
}
