// How a compiler gathers a module's static scope records into one named section, so that
// the linker lays them out back to back as one array per module. The single place that
// knows the section names per object format and compiler.
#pragma once

#if defined(__GNUC__)
#if defined(_WIN32)
// PE: grouped sections sort by their "$" suffix; the kit's begin and end markers sit in
// ".pcscope$a" and ".pcscope$z" around the records.
#define PLATFORM_SCOPE_RECORD(alignment)                                                           \
    __attribute__((section(".pcscope$m"), used, aligned(alignment)))
#else
// ELF: a section named like a C identifier gets __start_/__stop_ symbols from the linker.
#define PLATFORM_SCOPE_RECORD(alignment)                                                           \
    __attribute__((section("pcscopes"), used, aligned(alignment)))
#endif
#elif defined(_MSC_VER)
// MSVC: the records need the section declared first and /INCREMENTAL:NO at link time,
// because incremental linking pads sections with zeros (see the client guide).
#pragma section(".pcscope$a", read, write)
#pragma section(".pcscope$m", read, write)
#pragma section(".pcscope$z", read, write)
#define PLATFORM_SCOPE_RECORD(alignment) __declspec(allocate(".pcscope$m"))
#else
#error "No way to gather scope records into a section with this compiler"
#endif
