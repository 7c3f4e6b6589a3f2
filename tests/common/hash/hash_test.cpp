// lookup3: published values, values computed apart from the library at block boundaries
// with high bytes, and independence from the input's address.
#include <gtest/gtest.h>

#include <cstring>

#include "common/hash/hash.h"

static const char kFourScore[] = "Four score and seven years ago";

TEST(Hash, PublishedValues)
{
    EXPECT_EQ(HashString(""), 0xDEADBEEFu);
    EXPECT_EQ(HashString(nullptr), 0xDEADBEEFu);
    EXPECT_EQ(hashlittle("", 0, 0x30000000u), 0x0EADBEEFu); // wraps at 32 bits
    EXPECT_EQ(HashString("abc"), 0x0E397631u);
    EXPECT_EQ(hashlittle("abc", 3, 1), 0xF9F08E9Eu);
    EXPECT_EQ(HashString(kFourScore), 0x17770551u);
    EXPECT_EQ(HashData(kFourScore, 30, 1), 0xCD628161u);
    const struct
    {
        const char* m_Text;
        uint32_t m_C, m_B, m_ExpectC, m_ExpectB;
    } cases[] = {
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

// Bytes 0x80 + 37 i: whole blocks end exactly at 12, 24 and 36 bytes, and high bytes count
// as 128..255. Expected values from a separate table-driven model of lookup3 (the fuzz
// target's, checked there against the published values); hashword over the same bytes as
// little-endian words gives hashlittle's value.
TEST(Hash, BlockBoundariesHighBytesAndAlignment)
{
    alignas(4) uint8_t bytes[36];
    for (size_t i = 0; i < sizeof(bytes); ++i)
        bytes[i] = static_cast<uint8_t>(0x80 + 37 * i);
    const struct
    {
        size_t m_Length;
        uint32_t m_Seed, m_Little, m_Big;
    } cases[] = {{12, 0, 0xA8714458, 0x12845DD9}, {12, 7, 0x3C914D34, 0x6DA989A1},
                 {24, 0, 0x5E2578F0, 0x59745DFE}, {24, 7, 0x2040283B, 0xFAB4B29C},
                 {36, 0, 0x0DAED43B, 0xD9D86E62}, {36, 7, 0xFFD29855, 0xDFC52E10}};
    for (const auto& c : cases)
    {
        uint32_t words[9];
        std::memcpy(words, bytes, c.m_Length); // little-endian on every target built here
        EXPECT_EQ(hashlittle(bytes, c.m_Length, c.m_Seed), c.m_Little) << c.m_Length;
        EXPECT_EQ(hashword(words, c.m_Length / 4, c.m_Seed), c.m_Little) << c.m_Length;
        EXPECT_EQ(hashbig(bytes, c.m_Length, c.m_Seed), c.m_Big) << c.m_Length;
    }
    // The same bytes at an odd address give the same value, up to the first zero byte.
    char buffer[64] = {};
    for (size_t offset = 1; offset < 4; ++offset)
    {
        std::memcpy(buffer + offset, kFourScore, sizeof(kFourScore));
        EXPECT_EQ(HashString(buffer + offset), 0x17770551u);
        EXPECT_EQ(hashlittle(buffer + offset, 30, 1), 0xCD628161u);
    }
    EXPECT_EQ(HashString("abc\0def"), 0x0E397631u);
}
