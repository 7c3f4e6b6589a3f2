// Helpers of the kit tests: the exported entries of a module loaded at run time, and what
// a stream or a file holds.
#pragma once

#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

template <typename F> F KitEntry(void* module, const char* name)
{
#if defined(_WIN32)
    return reinterpret_cast<F>(
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(module), name)));
#else
    return reinterpret_cast<F>(dlsym(module, name));
#endif
}

inline std::string KitReadStream(FILE* stream)
{
    std::string text;
    std::rewind(stream);
    for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream))
        text.push_back(static_cast<char>(c));
    return text;
}

inline std::string KitReadFile(const char* path)
{
    FILE* file = std::fopen(path, "rb");
    std::string text = file != nullptr ? KitReadStream(file) : std::string();
    if (file != nullptr)
        std::fclose(file);
    return text;
}
