// The kit's per-OS part on Windows (PE): the record array between the markers of the grouped
// record sections, the calling thread's description (Windows 10 and later, looked up at run
// time), the process id and a file's replacement (MoveFileEx: rename replaces none). Per-OS.
#include <windows.h>

#include "kit/kit_private.h"
#include "platform/record_section.h"

// The linker sorts ".pcscope$a", ".pcscope$m", ".pcscope$z" by suffix, so the records lie
// between the two markers. The markers are not records: the array runs strictly between
// them.
#if defined(__GNUC__)
#define KIT_SECTION(name)                                                                          \
    __attribute__((section(name), used, aligned(alignof(SProfilerStaticScope))))
#else
#define KIT_SECTION(name) __declspec(allocate(name))
#endif

KIT_SECTION(".pcscope$a") static SProfilerStaticScope s_RecordsBegin = {-1, 0.0f, nullptr};
KIT_SECTION(".pcscope$z") static SProfilerStaticScope s_RecordsEnd = {-1, 0.0f, nullptr};

void ProfilerKitModuleRecords(SProfilerStaticScope** begin, SProfilerStaticScope** end)
{
    *begin = &s_RecordsBegin + 1;
    *end = &s_RecordsEnd;
}

typedef HRESULT(WINAPI* GetThreadDescriptionFunc)(HANDLE thread, PWSTR* description);

static GetThreadDescriptionFunc LookUpGetThreadDescription()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel != NULL ? GetProcAddress(kernel, "GetThreadDescription") : NULL;
    return reinterpret_cast<GetThreadDescriptionFunc>(reinterpret_cast<void (*)()>(address));
}

bool ProfilerKitOsThreadName(char* buffer, size_t size)
{
    static const GetThreadDescriptionFunc s_GetThreadDescription = LookUpGetThreadDescription();
    PWSTR wide = NULL;
    if (s_GetThreadDescription == NULL ||
        FAILED(s_GetThreadDescription(GetCurrentThread(), &wide)) || wide == NULL)
        return false;
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, static_cast<int>(size), NULL, NULL);
    LocalFree(wide);
    if (written <= 0)
        return false;
    buffer[size - 1] = '\0';
    return true;
}

uint32_t ProfilerKitOsProcessId()
{
    return GetCurrentProcessId();
}

bool ProfilerKitOsReplaceFile(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
