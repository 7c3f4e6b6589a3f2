// Reading UTF-8 text one character at a time: well-formed characters, ill-formed pieces
// and cuts between characters. Portable.
#include "common/debug/utf8.h"

#include <cstdint>

#include "common/debug/assert.h"

namespace
{

// The lead bytes of multi-byte characters, and the range that each allows for the second
// byte: it excludes overlong forms, the surrogates and code points beyond U+10FFFF. Every
// later byte is a plain continuation byte (0x80 to 0xBF).
struct SUtf8Lead
{
    uint8_t m_First, m_Last; // lead bytes covered
    uint8_t m_Length;        // bytes of the character
    uint8_t m_Low, m_High;   // the second byte's range
};

constexpr SUtf8Lead s_Leads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

} // namespace

SUtf8Step Utf8Step(const char* text)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    if (bytes[0] < 0x80)
        return {bytes[0] != 0 ? 1u : 0u, bytes[0] != 0};
    for (const SUtf8Lead& lead : s_Leads)
    {
        if (bytes[0] < lead.m_First || bytes[0] > lead.m_Last)
            continue;
        // The terminator is outside every range, so the reading stops there.
        if (bytes[1] < lead.m_Low || bytes[1] > lead.m_High)
            return {1, false};
        for (size_t at = 2; at < lead.m_Length; ++at)
            if (bytes[at] < 0x80 || bytes[at] > 0xBF)
                return {at, false};
        return {lead.m_Length, true};
    }
    return {1, false}; // a continuation byte, or a byte that never occurs in UTF-8
}

size_t Utf8CutLength(const char* text, size_t limit)
{
    PLATFORM_ASSERT(text != 0 && "A text to cut is needed!");
    if (text == nullptr)
        return 0;
    size_t length = 0;
    for (;;)
    {
        const SUtf8Step step = Utf8Step(text + length);
        if (step.m_Length == 0 || length + step.m_Length > limit)
            return length;
        length += step.m_Length;
    }
}
