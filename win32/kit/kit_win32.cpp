// The kit's per-OS part on Windows (PE): the record array between the markers of the grouped
// record sections, the calling thread's description (Windows 10 and later, looked up at run
// time), the process id, the module's file and a file's replacement (MoveFileEx: rename
// replaces none). Per-OS.
#include <cstring>
#include <new>

#include <windows.h>

#include "common/debug/utf8.h"
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
    if (size == 0 || s_GetThreadDescription == NULL ||
        FAILED(s_GetThreadDescription(GetCurrentThread(), &wide)) || wide == NULL)
        return false;
    // The conversion fails outright when the buffer is too small, so the whole description
    // goes into a block of its own and is then cut between two characters.
    const int whole = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
    char* text = whole > 0 ? new (std::nothrow) char[static_cast<size_t>(whole)] : nullptr;
    const bool named =
        text != nullptr && WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, whole, NULL, NULL) > 0;
    LocalFree(wide);
    if (named)
    {
        const size_t length = Utf8CutLength(text, size - 1);
        std::memcpy(buffer, text, length);
        buffer[length] = '\0';
    }
    delete[] text;
    return named;
}

uint32_t ProfilerKitOsProcessId()
{
    return GetCurrentProcessId();
}

bool ProfilerKitOsReplaceFile(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool ProfilerKitOsModulePath(char* buffer, size_t size)
{
    HMODULE module = nullptr;
    if (size == 0 || size > MAXDWORD ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&ProfilerKitOsModulePath), &module))
        return false;
    const DWORD length = GetModuleFileNameA(module, buffer, static_cast<DWORD>(size));
    buffer[size - 1] = '\0';
    return length != 0;
}
