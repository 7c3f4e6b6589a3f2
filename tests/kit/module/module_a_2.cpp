// Module A, object file 2 of three: eight more call sites in the module's record array.
#include "kit_module.h"

void KitModuleAPart2()
{
    KIT_TEST_EIGHT_SCOPES("A2.")
}
