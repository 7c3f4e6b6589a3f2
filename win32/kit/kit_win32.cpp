// The kit's per-OS part on Windows: the file name of the module that holds an address (for
// the report's module table), the calling thread's description (Windows 10 and later, looked
// up at run time), the process id and a file's replacement (MoveFileEx: rename replaces
// none). Per-OS.
#include <cstring>
#include <new>

#include <windows.h>

#include "common/debug/utf8.h"
#include "kit/kit_private.h"

bool ProfilerKitOsModuleName(const void* address, char* buffer, size_t size)
{
    HMODULE module = NULL;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return false;
    char path[MAX_PATH];
    const DWORD written = GetModuleFileNameA(module, path, MAX_PATH);
    if (written == 0 || written >= MAX_PATH || size == 0)
        return false;
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c)
        if (*c == '\\' || *c == '/')
            name = c + 1;
    const size_t length = std::strlen(name);
    const size_t copied = length < size - 1 ? length : size - 1;
    std::memcpy(buffer, name, copied);
    buffer[copied] = '\0';
    return copied > 0;
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
