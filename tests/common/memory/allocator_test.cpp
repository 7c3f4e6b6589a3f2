// The default allocators: alignment, failure values, and the two distinct records.
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

TEST(DefaultAllocator, TwoRecordsWithTheSameFunctions)
{
    EXPECT_EQ(GetDefaultAllocator(), GetDefaultAllocator());
    EXPECT_EQ(GetDefaultAllocator(), &g_DefaultAllocator);
    EXPECT_NE(GetDefaultAllocator(), &g_LogDefaultAllocator);
    EXPECT_EQ(g_DefaultAllocator.m_Alloc, g_LogDefaultAllocator.m_Alloc);
    EXPECT_EQ(g_DefaultAllocator.m_Free, g_LogDefaultAllocator.m_Free);
    EXPECT_EQ(g_DefaultAllocator.m_Alloc, &DefaultAlloc);
}
