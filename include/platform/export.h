// Export decoration of the shared library's one entry point. This is the single place
// that knows how a compiler marks a symbol for export from a DLL or a shared object.
#pragma once

#if defined(_WIN32)
#if defined(PROFILERCONTEXT_BUILD)
#define PROFILERCONTEXT_API __declspec(dllexport)
#elif defined(PROFILERCONTEXT_STATIC)
#define PROFILERCONTEXT_API
#else
#define PROFILERCONTEXT_API __declspec(dllimport)
#endif
#else
#define PROFILERCONTEXT_API __attribute__((visibility("default")))
#endif
