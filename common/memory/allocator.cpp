// The default allocators: two static records over the C runtime's aligned heap. Portable.
#include "common/memory/allocator.h"

#include "platform/os.h"

// Static data: valid before any constructor runs and for the whole process.
SAllocator g_LogDefaultAllocator = {&DefaultAlloc, &DefaultFree};
SAllocator g_DefaultAllocator = {&DefaultAlloc, &DefaultFree};

void* DefaultAlloc(SAllocator* /*self*/, uint32_t size, uint32_t alignment)
{
    if (size == 0 || alignment == 0 || (alignment & (alignment - 1)) != 0)
        return nullptr;
    return OsAlignedAlloc(size, alignment);
}

void DefaultFree(SAllocator* /*self*/, void* block)
{
    OsAlignedFree(block);
}

SAllocator* GetDefaultAllocator()
{
    return &g_DefaultAllocator;
}
