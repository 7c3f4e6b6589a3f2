// The default allocator: alignment and failure values. Portable.
#include "test_support.h"

TEST(DefaultAllocator, AlignmentsAndFailureValues)
{
    SAllocator* allocator = GetDefaultAllocator();
    for (uint32_t alignment : {1u, 2u, 8u, 64u, 4096u})
    {
        void* block = allocator->m_Alloc(allocator, 1000, alignment);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u) << alignment;
        std::memset(block, 0xAB, 1000); // the whole block is usable
        allocator->m_Free(allocator, block);
    }
    for (auto [size, alignment] : {std::pair{0u, 8u}, {16u, 12u}, {16u, 0u}})
        EXPECT_EQ(allocator->m_Alloc(allocator, size, alignment), nullptr) << alignment;
}
