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
    // A length byte and a character that is never zero; lengths from 250 give 300 to 1800
    // characters, past every cut the log makes.
    std::string Text()
    {
        const size_t length = Byte();
        return std::string(length < 250 ? length : (length - 249) * 300, char(Byte() | 1));
    }
};
