// What the fuzz targets share: the check that ends a run on a disagreement, the reader that
// turns the fuzzer's bytes into operations and arguments, and an allocator that counts the
// blocks it holds, with the headers that more than one target uses. Portable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/hash/hash.h"
#include "common/memory/allocator.h"

inline constexpr auto Check = [](bool condition) { condition ? void() : std::abort(); };

struct SInput
{
    const uint8_t* m_Data;
    size_t m_Size;
    uint8_t Byte() { return m_Size ? (--m_Size, *m_Data++) : 0; }
};

inline int g_Live = 0; // blocks held
inline SAllocator g_Allocator = {
    [](SAllocator*, uint32_t size, uint32_t) { return ++g_Live, std::malloc(size); },
    [](SAllocator*, void* block) { --g_Live, std::free(block); }};
