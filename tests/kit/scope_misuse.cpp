// Compiled by the tests only with one KIT_MISUSE_ macro defined, each of which must fail:
// a scope name that is not a literal, a threshold that is not a constant.
#include <string>

#include "kit/profilerkit.h"

void Misuse(const std::string& label, float thresholdMs)
{
#if defined(KIT_MISUSE_NAME)
    PROFILE_SCOPE(label.c_str(), 0);
#elif defined(KIT_MISUSE_THRESHOLD)
    PROFILE_SCOPE("Misuse", thresholdMs);
#endif
}
