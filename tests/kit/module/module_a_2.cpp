// Module A, object file 2 of two: the shared header's code again, with another
// instantiation of its template.
#include "kit_module.h"

void KitModuleAPart2()
{
    KitSharedInline();
    KitSharedTemplate(0.5f);
}
