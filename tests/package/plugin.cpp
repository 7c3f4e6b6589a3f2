// The outside client's plug-in: a module loaded at run time that times a scope whose name
// the executable uses too and marks a frame. Built once more with the profiler compiled out.
#include "kit/profilerkit.h"

extern "C" __attribute__((visibility("default"))) void PackagePluginRun(int calls)
{
    for (int i = 0; i < calls; ++i)
    {
        PROFILE_SCOPE("Package::Shared", 0);
    }
    PROFILE_FRAME();
}
