// What the kit test modules share: their exported entry points, and header-only code with
// scopes in every kind of function that a header holds (inline function, member defined in
// its class, function template), compiled into module A, module B and the test.
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

struct SKitShared
{
    void Member() { PROFILE_SCOPE("Shared::Member", 0); }
};

template <typename T> void KitSharedTemplate(T)
{
    PROFILE_SCOPE("Shared::Template", 0);
    SKitShared().Member();
}
