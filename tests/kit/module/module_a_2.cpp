// Module A, object file 2 of two: the shared header's code again, with another
// instantiation of its template.
#include "kit_module.h"

int KitModuleAPart2(int value)
{
    KitSharedInline();
    return static_cast<int>(KitSharedTemplate(static_cast<float>(value)));
}
