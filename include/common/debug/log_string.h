// The log's channel-name string, the container allocator that routes every block through
// the log's allocator, and the ordered table of per-channel thresholds that the log
// context owns. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "common/debug/log.h"
#include "common/memory/allocator.h"

// A text that is either borrowed from the caller or owned in a block from g_LogAllocator.
// When an owning copy cannot get its block, the string is left empty (null text).
class CLogString
{
public:
    static constexpr uint32_t NOT_OWNED = 0xFFFFFFFFu;

    CLogString(const char* text, bool copy);
    CLogString(const CLogString& other); // always an owning copy
    CLogString(CLogString&& other) noexcept;
    CLogString& operator=(CLogString&& other) noexcept;
    CLogString& operator=(const CLogString&) = delete;
    ~CLogString();

    // copy: measure and copy into the owned block, reusing it when it is large enough.
    // Otherwise borrow the text, giving back a block that the string owned.
    void Set(const char* text, bool copy);
    const char* GetString() const { return m_String; }
    uint32_t GetCapacity() const { return m_Capacity; }
    bool operator<(const CLogString& other) const; // byte order, case-sensitive

private:
    void Release();

    char* m_String;
    uint32_t m_Capacity; // characters the owned block holds, or NOT_OWNED
};

// Stateless container allocator: every block comes from and goes back to g_LogAllocator,
// with alignment 16. allocate returns null when the log's allocator does; callers that
// cannot take a null (the standard node containers) must not use it where that can happen.
template <typename T> struct stl_allocator_wrapper
{
    typedef T value_type;
    typedef T* pointer;
    typedef const T* const_pointer;
    typedef size_t size_type;
    typedef ptrdiff_t difference_type;
    template <typename U> struct rebind
    {
        typedef stl_allocator_wrapper<U> other;
    };

    stl_allocator_wrapper() noexcept = default;
    template <typename U> stl_allocator_wrapper(const stl_allocator_wrapper<U>&) noexcept {}

    T* allocate(size_t count)
    {
        if (g_LogAllocator == nullptr || count > max_size())
            return nullptr;
        void* block =
            g_LogAllocator->m_Alloc(g_LogAllocator, static_cast<uint32_t>(count * sizeof(T)), 16);
        return static_cast<T*>(block);
    }
    void deallocate(T* block, size_t /*count*/) noexcept
    {
        if (block != nullptr)
            g_LogAllocator->m_Free(g_LogAllocator, block);
    }
    size_t max_size() const noexcept { return 0xFFFFFFFFu / sizeof(T); }

    template <typename U, typename... Args> void construct(U* where, Args&&... args)
    {
        ::new (static_cast<void*>(where)) U(std::forward<Args>(args)...);
    }
    template <typename U> void destroy(U* where) { where->~U(); }

    template <typename U> bool operator==(const stl_allocator_wrapper<U>&) const noexcept
    {
        return true;
    }
    template <typename U> bool operator!=(const stl_allocator_wrapper<U>&) const noexcept
    {
        return false;
    }
};

struct SLogChannelSeverity
{
    CLogString m_Channel; // always owns its text
    ELogSeverity m_Severity;
};

// Channel name to threshold, unique keys in CLogString order: a sorted array, so a lookup
// costs a logarithmic number of strcmp and allocates nothing. Every block (the array and
// the names) comes from g_LogAllocator; an insertion that cannot get its memory leaves the
// table as it was. No lock of its own: the log context's mutex guards every use after
// construction.
class CLogChannelSeverityTable
{
public:
    CLogChannelSeverityTable() = default;
    ~CLogChannelSeverityTable();
    CLogChannelSeverityTable(const CLogChannelSeverityTable&) = delete;
    CLogChannelSeverityTable& operator=(const CLogChannelSeverityTable&) = delete;

    // The entry's severity, or null when the channel has none.
    const ELogSeverity* Find(const CLogString& channel) const;
    // Inserts a copy of the key or updates its entry; false when memory ran out.
    bool Set(const CLogString& channel, ELogSeverity severity);
    // Removes the key's entry; false when there was none.
    bool Erase(const CLogString& channel);

    uint32_t Size() const { return m_Count; }
    const SLogChannelSeverity& At(uint32_t index) const { return m_Entries[index]; }

private:
    // First index whose key is not less than the given one.
    uint32_t LowerBound(const CLogString& channel) const;
    bool Matches(uint32_t index, const CLogString& channel) const;
    void FreeEntries();

    SLogChannelSeverity* m_Entries = nullptr;
    uint32_t m_Count = 0;
    uint32_t m_Capacity = 0;
};
