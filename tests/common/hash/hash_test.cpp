// lookup3 against published values and values computed apart from the library (a separate
// model of lookup3), at whole-block lengths with high bytes and at an odd address. Portable.
#include "test_support.h"

TEST(Hash, PublishedAndIndependentValues)
{
    EXPECT_EQ(HashString(nullptr), 0xDEADBEEFu);
    EXPECT_EQ(hashlittle("", 0, 0x30000000u), 0x0EADBEEFu); // wraps at 32 bits
    EXPECT_EQ(HashString("abc\0def"), 0x0E397631u);         // up to the first zero byte
    // Whole blocks end at 12, 24 and 36 bytes; bytes 0x80 + 37 i count as 128..255;
    // hashword over the same little-endian words agrees with hashlittle.
    uint32_t words[9];
    uint8_t* bytes = reinterpret_cast<uint8_t*>(words);
    for (size_t i = 0; i < sizeof(words); ++i)
        bytes[i] = static_cast<uint8_t>(0x80 + 37 * i);
    const uint32_t cases[][4] = {{12, 0, 0xA8714458, 0x12845DD9}, {12, 7, 0x3C914D34, 0x6DA989A1},
                                 {24, 0, 0x5E2578F0, 0x59745DFE}, {24, 7, 0x2040283B, 0xFAB4B29C},
                                 {36, 0, 0x0DAED43B, 0xD9D86E62}, {36, 7, 0xFFD29855, 0xDFC52E10}};
    for (const auto& [length, seed, little, big] : cases)
        EXPECT_EQ(std::tuple(hashlittle(bytes, length, seed), hashword(words, length / 4, seed),
                             hashbig(bytes, length, seed)),
                  std::tuple(little, little, big))
            << length;
    // One body serves every byte variant: the fuzz target checks them all at every offset.
    char buffer[40] = {};
    std::strcpy(buffer + 1, "Four score and seven years ago"); // at an odd address
    uint32_t c = 1, b = 0;
    hashlittle2(buffer + 1, 30, &c, &b);
    EXPECT_EQ(HashString(buffer + 1), 0x17770551u);
    EXPECT_TRUE(c == 0xCD628161u && b == 0x6CBEA4B3u);
}
