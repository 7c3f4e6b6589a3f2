// The kit's per-OS part on Windows: the file name of the module that holds an address (for
// the report's module table), the thread description of the calling thread (Windows 10 and
// later, looked up at run time) and the process id. Per-OS.
#include <windows.h>

#include <cstring>

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
