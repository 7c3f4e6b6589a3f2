// lookup3: published values, agreement between the variants, and independence from the
// input's address.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/hash/hash.h"

namespace
{

const char kFourScore[] = "Four score and seven years ago";

// Little-endian words of a byte string whose length is a multiple of 4.
std::vector<uint32_t> LittleEndianWords(const uint8_t* bytes, size_t length)
{
    std::vector<uint32_t> words;
    for (size_t i = 0; i < length; i += 4)
        words.push_back(uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 |
                        uint32_t(bytes[i + 2]) << 16 | uint32_t(bytes[i + 3]) << 24);
    return words;
}

} // namespace

TEST(Hash, PublishedValues)
{
    EXPECT_EQ(HashString(""), 0xDEADBEEFu);
    EXPECT_EQ(hashlittle("", 0, 5), 0xDEADBEEFu + 5);
    EXPECT_EQ(hashlittle("", 0, 0x30000000u), 0x0EADBEEFu); // wraps at 32 bits
    EXPECT_EQ(HashString("abc"), 0x0E397631u);
    EXPECT_EQ(hashlittle("abc", 3, 1), 0xF9F08E9Eu);
    EXPECT_EQ(hashlittle(kFourScore, 30, 0), 0x17770551u);
    EXPECT_EQ(hashlittle(kFourScore, 30, 1), 0xCD628161u);
    EXPECT_EQ(HashString(kFourScore), 0x17770551u);
    EXPECT_EQ(HashData(kFourScore, 30, 1), 0xCD628161u);
    EXPECT_EQ(HashString(nullptr), HashString(""));
}

TEST(Hash, Hashlittle2MatchesThePublishedDriver)
{
    struct
    {
        const char* m_Text;
        uint32_t m_C, m_B, m_ExpectC, m_ExpectB;
    } const cases[] = {
        {"", 0, 0, 0xDEADBEEF, 0xDEADBEEF},
        {"", 0, 0xDEADBEEF, 0xBD5B7DDE, 0xDEADBEEF},
        {"", 0xDEADBEEF, 0xDEADBEEF, 0x9C093CCD, 0xBD5B7DDE},
        {kFourScore, 0, 0, 0x17770551, 0xCE7226E6},
        {kFourScore, 0, 1, 0xE3607CAE, 0xBD371DE4},
        {kFourScore, 1, 0, 0xCD628161, 0x6CBEA4B3},
    };
    for (const auto& test : cases)
    {
        uint32_t c = test.m_C, b = test.m_B;
        hashlittle2(test.m_Text, std::strlen(test.m_Text), &c, &b);
        EXPECT_EQ(c, test.m_ExpectC) << test.m_Text << " " << test.m_C << " " << test.m_B;
        EXPECT_EQ(b, test.m_ExpectB) << test.m_Text << " " << test.m_C << " " << test.m_B;
    }
}

TEST(Hash, BlockBoundariesHighBytesAndAlignment)
{
    // hashword over the little-endian words of 4n bytes equals hashlittle over the bytes:
    // both take the block loop for all but the last 12 bytes and apply the final mix once.
    // Bytes of 0x80 and above must count as 128..255.
    uint8_t bytes[36];
    for (size_t i = 0; i < sizeof(bytes); ++i)
        bytes[i] = static_cast<uint8_t>(0x80 + 37 * i);
    for (size_t length : {4u, 8u, 12u, 16u, 24u, 36u})
    {
        std::vector<uint32_t> words = LittleEndianWords(bytes, length);
        for (uint32_t seed : {0u, 7u})
            EXPECT_EQ(hashlittle(bytes, length, seed), hashword(words.data(), words.size(), seed))
                << length << " bytes";
    }

    // hashbig reads each word big-endian: the same as hashlittle over byte-swapped words.
    uint8_t swapped[24];
    for (size_t i = 0; i < sizeof(swapped); ++i)
        swapped[i] = bytes[(i & ~size_t(3)) + 3 - (i & 3)];
    EXPECT_EQ(hashbig(bytes, 24, 3), hashlittle(swapped, 24, 3));
    EXPECT_NE(hashbig(bytes, 24, 3), hashlittle(bytes, 24, 3));

    // The same bytes at an odd address give the same value, up to the first zero byte.
    char buffer[64] = {};
    for (size_t offset = 1; offset < 4; ++offset)
    {
        std::memcpy(buffer + offset, kFourScore, sizeof(kFourScore));
        EXPECT_EQ(HashString(buffer + offset), 0x17770551u);
        EXPECT_EQ(hashlittle(buffer + offset, 30, 1), 0xCD628161u);
    }
    const char embedded[] = "abc\0def";
    EXPECT_EQ(HashString(embedded), 0x0E397631u);
}
