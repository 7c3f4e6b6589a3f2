// A separately built shared module with profiled code: it carries its own static scope
// records, announces them to the shared context when it loads and withdraws them when it
// unloads.
#include "profile/profilercontext.h"

namespace
{

SProfilerStaticScope s_Scopes[] = {
    {-1, 1.0f, "ModuleOnlyScope"},
    {-1, 2.0f, "SharedScope"},
};

struct CModuleRegistration
{
    CModuleRegistration() { GetProfiler()->RegisterModule(s_Scopes, s_Scopes + 2); }
    ~CModuleRegistration() { GetProfiler()->UnregisterModule(s_Scopes); }
} s_Registration;

} // namespace
