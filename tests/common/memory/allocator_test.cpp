// The default allocator: alignment and failure values. Portable.
#include <gtest/gtest.h>

#include <cstring>

#include "common/memory/allocator.h"

TEST(DefaultAllocator, AlignmentsAndFailureValues)
{
    SAllocator* allocator = GetDefaultAllocator();
    for (uint32_t alignment : {1u, 2u, 8u, 64u, 4096u})
        for (uint32_t size : {1u, 3u, 1000u})
        {
            void* block = allocator->m_Alloc(allocator, size, alignment);
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u) << alignment;
            std::memset(block, 0xAB, size); // the whole block is usable
            allocator->m_Free(allocator, block);
        }
    EXPECT_EQ(allocator->m_Alloc(allocator, 0, 8), nullptr);
    EXPECT_EQ(allocator->m_Alloc(allocator, 16, 12), nullptr);
    EXPECT_EQ(allocator->m_Alloc(allocator, 16, 0), nullptr);
}
