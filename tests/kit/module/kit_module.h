// The entry points of the kit test modules, exported for the test to look up at run time,
// and the scopes that every module part defines: eight call sites per object file.
#pragma once

#include "kit/profilerkit.h"

#if defined(_WIN32)
#define KIT_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define KIT_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// clang-format off
#define KIT_TEST_EIGHT_SCOPES(prefix)                                                              \
    { PROFILE_SCOPE(prefix "0", 0); } { PROFILE_SCOPE(prefix "1", 0); }                            \
    { PROFILE_SCOPE(prefix "2", 0); } { PROFILE_SCOPE(prefix "3", 0); }                            \
    { PROFILE_SCOPE(prefix "4", 0); } { PROFILE_SCOPE(prefix "5", 0); }                            \
    { PROFILE_SCOPE(prefix "6", 0); } { PROFILE_SCOPE(prefix "7", 0); }
// clang-format on

void KitModuleAPart2();
void KitModuleAPart3();
