// Guarded texts: readable memory followed by 64 KiB without access (a whole number of pages
// on every OS built here), mapped with each OS's own calls. Per-OS by necessity.
#include "test_support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

static const size_t s_Guard = 65536;

CGuardedText::CGuardedText(const std::string& text)
{
    m_Size = (text.size() + s_Guard) / s_Guard * s_Guard + s_Guard;
#if defined(_WIN32)
    m_Base = VirtualAlloc(nullptr, m_Size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    DWORD old;
    if (m_Base == nullptr || !VirtualProtect(static_cast<char*>(m_Base) + m_Size - s_Guard, s_Guard,
                                             PAGE_NOACCESS, &old))
#else
    m_Base = mmap(nullptr, m_Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m_Base == MAP_FAILED ||
        mprotect(static_cast<char*>(m_Base) + m_Size - s_Guard, s_Guard, PROT_NONE) != 0)
#endif
        std::abort();
    m_Text = static_cast<char*>(m_Base) + m_Size - s_Guard - text.size() - 1;
    std::memcpy(const_cast<char*>(m_Text), text.c_str(), text.size() + 1);
}

CGuardedText::~CGuardedText()
{
#if defined(_WIN32)
    VirtualFree(m_Base, 0, MEM_RELEASE);
#else
    munmap(m_Base, m_Size);
#endif
}
