// The allocator record that clients hand to the profiler and the log, and the default
// allocators over the C runtime's aligned heap. Portable.
#pragma once

#include <cstdint>

// Always called through the record, with the record itself as first argument; a block
// goes back through the record that allocated it. Sizes and alignments are 32-bit so the
// record means the same in every module; alignment is a power of two.
struct SAllocator
{
    void* (*m_Alloc)(SAllocator* self, uint32_t size, uint32_t alignment);
    void (*m_Free)(SAllocator* self, void* block);
};

// Returns null for a request of 0 bytes and for an alignment that is not a power of two:
// a profiler capacity of 0 then fails the registration instead of handing out a block
// that can hold nothing.
void* DefaultAlloc(SAllocator* self, uint32_t size, uint32_t alignment);
void DefaultFree(SAllocator* self, void* block);

// Two records with the same functions at different addresses; both are static data.
extern SAllocator g_LogDefaultAllocator;
extern SAllocator g_DefaultAllocator;
SAllocator* GetDefaultAllocator();
