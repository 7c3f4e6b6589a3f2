// Helpers of the kit tests: a kit module loaded at run time with its exported entries, and
// what a stream or a file holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/os.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

class CKitModule
{
public:
    explicit CKitModule(const char* path) : m_Handle(OsModuleLoad(path)) {}
    ~CKitModule() { Unload(); }
    void Unload()
    {
        if (m_Handle != nullptr)
            OsModuleUnload(m_Handle);
        m_Handle = nullptr;
    }
    bool Loaded() const { return m_Handle != nullptr; }
    template <typename F> F Entry(const char* name) const
    {
#if defined(_WIN32)
        void (*address)() =
            reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(m_Handle), name));
#else
        void* address = dlsym(m_Handle, name);
#endif
        EXPECT_NE(address, nullptr) << name;
        return reinterpret_cast<F>(address);
    }

private:
    void* m_Handle;
};

inline std::string KitReadStream(FILE* stream)
{
    std::string text;
    std::rewind(stream);
    char buffer[4096];
    size_t read;
    while ((read = std::fread(buffer, 1, sizeof(buffer), stream)) > 0)
        text.append(buffer, read);
    return text;
}

inline std::string KitReadFile(const char* path)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return std::string();
    std::string text = KitReadStream(file);
    std::fclose(file);
    return text;
}
