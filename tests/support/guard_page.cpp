// Guarded texts: readable pages followed by one page without access, mapped with each OS's
// own calls (VirtualAlloc and VirtualProtect, or mmap and mprotect). Per-OS by necessity.
#include "guard_page.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

CGuardedText::CGuardedText(const std::string& text)
{
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    m_Size = (text.size() + page) / page * page + page;
    m_Base = VirtualAlloc(nullptr, m_Size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    DWORD old;
    if (m_Base == nullptr ||
        !VirtualProtect(static_cast<char*>(m_Base) + m_Size - page, page, PAGE_NOACCESS, &old))
        std::abort();
#else
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    m_Size = (text.size() + page) / page * page + page;
    m_Base = mmap(nullptr, m_Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m_Base == MAP_FAILED ||
        mprotect(static_cast<char*>(m_Base) + m_Size - page, page, PROT_NONE))
        std::abort();
#endif
    char* start = static_cast<char*>(m_Base) + m_Size - page - text.size() - 1;
    std::memcpy(start, text.c_str(), text.size() + 1);
    m_Text = start;
}

CGuardedText::~CGuardedText()
{
#if defined(_WIN32)
    VirtualFree(m_Base, 0, MEM_RELEASE);
#else
    munmap(m_Base, m_Size);
#endif
}
