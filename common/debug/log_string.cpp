// The log's channel-name string and the sorted table of per-channel thresholds. Every
// block comes from g_LogAllocator, and a failed allocation leaves the string empty or the
// table unchanged instead of writing through a null block. Portable.
#include "common/debug/log_string.h"

#include <cstring>

SAllocator* g_LogAllocator = nullptr;

// ---- CLogString ----

CLogString::CLogString(const char* text, bool copy) : m_String(nullptr), m_Capacity(NOT_OWNED)
{
    Set(text, copy);
}

CLogString::CLogString(const CLogString& other) : m_String(nullptr), m_Capacity(NOT_OWNED)
{
    Set(other.m_String, true);
}

CLogString::CLogString(CLogString&& other) noexcept
    : m_String(other.m_String), m_Capacity(other.m_Capacity)
{
    other.m_String = nullptr;
    other.m_Capacity = NOT_OWNED;
}

CLogString& CLogString::operator=(CLogString&& other) noexcept
{
    if (this != &other)
    {
        Release();
        m_String = other.m_String;
        m_Capacity = other.m_Capacity;
        other.m_String = nullptr;
        other.m_Capacity = NOT_OWNED;
    }
    return *this;
}

CLogString::~CLogString()
{
    Release();
}

void CLogString::Release()
{
    if (m_Capacity != NOT_OWNED)
        g_LogAllocator->m_Free(g_LogAllocator, m_String);
    m_String = nullptr;
    m_Capacity = NOT_OWNED;
}

void CLogString::Set(const char* text, bool copy)
{
    if (!copy || text == nullptr)
    {
        // Borrowing must not leave an owned block behind unreferenced.
        Release();
        m_String = const_cast<char*>(text);
        return;
    }

    size_t length = std::strlen(text);
    if (length >= NOT_OWNED)
    {
        Release(); // the capacity field cannot describe such a block
        return;
    }
    if (m_Capacity == NOT_OWNED || length > m_Capacity)
    {
        Release();
        void* block =
            g_LogAllocator == nullptr
                ? nullptr
                : g_LogAllocator->m_Alloc(g_LogAllocator, static_cast<uint32_t>(length + 1), 16);
        if (block == nullptr)
            return; // left empty
        m_String = static_cast<char*>(block);
        m_Capacity = static_cast<uint32_t>(length);
    }
    // The text may be this string's own block when it is set from itself.
    std::memmove(m_String, text, length + 1);
}

bool CLogString::operator<(const CLogString& other) const
{
    const char* left = m_String != nullptr ? m_String : "";
    const char* right = other.m_String != nullptr ? other.m_String : "";
    return std::strcmp(left, right) < 0;
}

// ---- CLogChannelSeverityTable ----

CLogChannelSeverityTable::~CLogChannelSeverityTable()
{
    FreeEntries();
}

void CLogChannelSeverityTable::FreeEntries()
{
    stl_allocator_wrapper<SLogChannelSeverity> allocator;
    for (uint32_t i = 0; i < m_Count; ++i)
        allocator.destroy(m_Entries + i);
    allocator.deallocate(m_Entries, m_Capacity);
    m_Entries = nullptr;
    m_Count = 0;
    m_Capacity = 0;
}

uint32_t CLogChannelSeverityTable::LowerBound(const CLogString& channel) const
{
    uint32_t first = 0;
    uint32_t count = m_Count;
    while (count > 0)
    {
        uint32_t half = count / 2;
        if (m_Entries[first + half].m_Channel < channel)
        {
            first += half + 1;
            count -= half + 1;
        }
        else
        {
            count = half;
        }
    }
    return first;
}

bool CLogChannelSeverityTable::Matches(uint32_t index, const CLogString& channel) const
{
    return index < m_Count && !(channel < m_Entries[index].m_Channel);
}

const ELogSeverity* CLogChannelSeverityTable::Find(const CLogString& channel) const
{
    uint32_t index = LowerBound(channel);
    return Matches(index, channel) ? &m_Entries[index].m_Severity : nullptr;
}

bool CLogChannelSeverityTable::Set(const CLogString& channel, ELogSeverity severity)
{
    uint32_t index = LowerBound(channel);
    if (Matches(index, channel))
    {
        m_Entries[index].m_Severity = severity;
        return true;
    }

    // Take every block the insertion needs before touching the array, so running out of
    // memory leaves the table as it was.
    CLogString key(channel);
    if (key.GetString() == nullptr)
        return false;

    stl_allocator_wrapper<SLogChannelSeverity> allocator;
    if (m_Count == m_Capacity)
    {
        if (m_Capacity > allocator.max_size() / 2)
            return false;
        uint32_t capacity = m_Capacity == 0 ? 4 : m_Capacity * 2;
        SLogChannelSeverity* entries = allocator.allocate(capacity);
        if (entries == nullptr)
            return false;
        // Move the entries over, leaving the gap for the new one at its place in order.
        for (uint32_t i = 0; i < m_Count; ++i)
            allocator.construct(entries + (i < index ? i : i + 1), std::move(m_Entries[i]));
        ::new (static_cast<void*>(entries + index)) SLogChannelSeverity{std::move(key), severity};
        uint32_t count = m_Count;
        FreeEntries();
        m_Entries = entries;
        m_Capacity = capacity;
        m_Count = count + 1;
        return true;
    }

    if (index == m_Count)
    {
        ::new (static_cast<void*>(m_Entries + index)) SLogChannelSeverity{std::move(key), severity};
    }
    else
    {
        allocator.construct(m_Entries + m_Count, std::move(m_Entries[m_Count - 1]));
        for (uint32_t i = m_Count - 1; i > index; --i)
            m_Entries[i] = std::move(m_Entries[i - 1]);
        m_Entries[index].m_Channel = std::move(key);
        m_Entries[index].m_Severity = severity;
    }
    ++m_Count;
    return true;
}

bool CLogChannelSeverityTable::Erase(const CLogString& channel)
{
    uint32_t index = LowerBound(channel);
    if (!Matches(index, channel))
        return false;

    // Moving the later entries down gives back the erased name's block; the last slot is
    // then a moved-from (empty) entry, or the erased one itself.
    for (uint32_t i = index; i + 1 < m_Count; ++i)
        m_Entries[i] = std::move(m_Entries[i + 1]);
    stl_allocator_wrapper<SLogChannelSeverity>().destroy(m_Entries + m_Count - 1);
    --m_Count;
    if (m_Count == 0)
        FreeEntries(); // an empty table holds no memory
    return true;
}
