// Module A, first of three object files: eight call sites and the exported entry that runs
// all twenty-four of the module's scopes.
#include "kit_module.h"

KIT_TEST_EXPORT void KitModuleARun(int iterations)
{
    for (int i = 0; i < iterations; ++i)
    {
        KIT_TEST_EIGHT_SCOPES("A1.")
        KitModuleAPart2();
        KitModuleAPart3();
    }
}
