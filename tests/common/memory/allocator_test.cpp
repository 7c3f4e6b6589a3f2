// The default allocator: alignment and failure values. Portable.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "common/memory/allocator.h"

TEST(DefaultAllocator, AlignmentsAndFailureValues)
{
    SAllocator* allocator = GetDefaultAllocator();
    for (uint32_t alignment : {1u, 2u, 8u, 16u, 64u, 4096u})
    {
        for (uint32_t size : {1u, 3u, 16u, 1000u})
        {
            void* block = allocator->m_Alloc(allocator, size, alignment);
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u)
                << "alignment " << alignment << " size " << size;
            std::memset(block, 0xAB, size); // the whole block is usable
            allocator->m_Free(allocator, block);
        }
    }
    // A request of 0 bytes and a non-power-of-two alignment fail instead of returning a
    // block that holds nothing or is misaligned.
    EXPECT_EQ(allocator->m_Alloc(allocator, 0, 8), nullptr);
    EXPECT_EQ(allocator->m_Alloc(allocator, 16, 12), nullptr);
    EXPECT_EQ(allocator->m_Alloc(allocator, 16, 0), nullptr);

    // self is ignored: any record, even none, gives the same service.
    void* block = DefaultAlloc(nullptr, 32, 16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    DefaultFree(&g_LogDefaultAllocator, block);
}
