// Texts placed so that their terminating zero is the last readable byte before an
// inaccessible page: a read past the end faults at once. Per-OS halves in guard_page.cpp.
#pragma once

#include <cstddef>
#include <string>

class CGuardedText
{
public:
    explicit CGuardedText(const std::string& text);
    ~CGuardedText();
    CGuardedText(const CGuardedText&) = delete;
    CGuardedText& operator=(const CGuardedText&) = delete;
    const char* Get() const { return m_Text; }

private:
    void* m_Base;
    size_t m_Size;
    const char* m_Text;
};
