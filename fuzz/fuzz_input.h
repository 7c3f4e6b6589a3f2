// What the fuzz targets share: the check that ends a run on a disagreement, and the reader
// that turns the fuzzer's bytes into operations and arguments. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

inline void Check(bool condition)
{
    if (!condition)
        std::abort();
}

struct SInput
{
    const uint8_t* m_Data;
    size_t m_Size;
    uint8_t Byte() { return m_Size ? (--m_Size, *m_Data++) : 0; }
    uint32_t Word()
    {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i)
            word = word << 8 | Byte();
        return word;
    }
    // A length byte, then that many bytes without zeros; 250 and up repeats one byte
    // 300 to 1800 times, past every cut the log makes.
    std::string Text()
    {
        const uint8_t length = Byte();
        if (length >= 250)
            return std::string(size_t(length - 249) * 300, char(Byte() | 1));
        std::string text;
        for (uint8_t i = 0; i < length && m_Size; ++i)
            if (const uint8_t c = Byte())
                text += char(c);
        return text;
    }
};
