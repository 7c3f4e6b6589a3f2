// Module A, object file 3 of three: eight more call sites in the module's record array.
#include "kit_module.h"

void KitModuleAPart3()
{
    KIT_TEST_EIGHT_SCOPES("A3.")
}
