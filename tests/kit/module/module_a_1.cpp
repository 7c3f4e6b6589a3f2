// Module A, first of three object files: eight call sites and the exported entry that runs
// all twenty-four of the module's scopes.
#include "kit_module.h"

static void KitModuleAPart1(){KIT_TEST_EIGHT_SCOPES("A1.")}

KIT_TEST_EXPORT void KitModuleARun(int iterations)
{
    for (int i = 0; i < iterations; ++i)
    {
        KitModuleAPart1();
        KitModuleAPart2();
        KitModuleAPart3();
    }
}
