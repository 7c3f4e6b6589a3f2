// Guarded texts: readable pages followed by one page without access, mapped with each OS's
// own calls (mmap and mprotect, or VirtualAlloc and VirtualProtect). Per-OS by necessity.
#include "guard_page.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>

static size_t PageSize()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

static void* MapGuarded(size_t size, size_t page)
{
    void* base = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    DWORD old;
    if (base == nullptr ||
        !VirtualProtect(static_cast<char*>(base) + size - page, page, PAGE_NOACCESS, &old))
        std::abort();
    return base;
}

static void Unmap(void* base, size_t)
{
    VirtualFree(base, 0, MEM_RELEASE);
}
#else
#include <sys/mman.h>
#include <unistd.h>

static size_t PageSize()
{
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

static void* MapGuarded(size_t size, size_t page)
{
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED || mprotect(static_cast<char*>(base) + size - page, page, PROT_NONE))
        std::abort();
    return base;
}

static void Unmap(void* base, size_t size)
{
    munmap(base, size);
}
#endif

CGuardedText::CGuardedText(const std::string& text)
{
    const size_t page = PageSize(), bytes = text.size() + 1;
    m_Size = (bytes + page - 1) / page * page + page;
    m_Base = MapGuarded(m_Size, page);
    char* start = static_cast<char*>(m_Base) + m_Size - page - bytes;
    std::memcpy(start, text.c_str(), bytes);
    m_Text = start;
}

CGuardedText::~CGuardedText()
{
    Unmap(m_Base, m_Size);
}
