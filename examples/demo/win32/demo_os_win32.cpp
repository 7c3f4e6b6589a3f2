// The demo's plug-in loading on Windows: LoadLibrary by full path, the folder taken from
// the executable's own file name. Per-OS.
#include <windows.h>

#include <string>

#include "../demo_os.h"

void* DemoModuleLoad(const char* fileName)
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::string path(self, length);
    path = path.substr(0, path.find_last_of("\\/") + 1) + fileName;
    return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
}

void DemoModuleUnload(void* module)
{
    FreeLibrary(static_cast<HMODULE>(module));
}

DemoFunc DemoModuleEntry(void* module, const char* name)
{
    // void (*)() is the type that FARPROC converts to without a cast-function-type warning.
    return reinterpret_cast<DemoFunc>(GetProcAddress(static_cast<HMODULE>(module), name));
}
