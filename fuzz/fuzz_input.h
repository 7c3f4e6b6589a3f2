// What the fuzz targets share: the check that ends a run on a disagreement, and the reader
// that turns the fuzzer's bytes into operations and arguments. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline constexpr auto Check = [](bool condition) { condition ? void() : std::abort(); };

struct SInput
{
    const uint8_t* m_Data;
    size_t m_Size;
    uint8_t Byte() { return m_Size ? (--m_Size, *m_Data++) : 0; }
};
