// The demo's plug-in loading on Linux: dlopen by full path (the executable's folder read
// from /proc/self/exe), since a bare file name would not search that folder. Per-OS.
#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "../demo_os.h"

void* DemoModuleLoad(const char* fileName)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0)
        return nullptr;
    std::string path(self, static_cast<size_t>(length));
    path = path.substr(0, path.rfind('/') + 1) + fileName;
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void DemoModuleUnload(void* module)
{
    dlclose(module);
}

DemoFunc DemoModuleEntry(void* module, const char* name)
{
    return reinterpret_cast<DemoFunc>(dlsym(module, name));
}
