// What the kit test modules share: their exported entry points, and header-only code with
// scopes in an inline function and a function template, compiled into module A, module B
// and the test.
#pragma once

#include "kit/profilerkit.h"

#if defined(_WIN32)
#define KIT_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define KIT_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

inline void KitSharedInline()
{
    PROFILE_SCOPE("Shared::Inline", 0);
}

template <typename T> void KitSharedTemplate(T)
{
    PROFILE_SCOPE("Shared::Template", 0);
}
