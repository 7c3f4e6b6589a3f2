// The outside client's executable, built against the installed prefix: it owns the
// context, loads the plug-in given as its argument, else ./plugin.so (dlopen: the test runs
// where the build's executables run natively), and checks that both modules' calls of one
// scope name were counted in one place. Also uses the platform layer linked into this module.
#include <dlfcn.h>

#include <cstdio>

#include "common/hash/hash.h"
#include "kit/profilerkit.h"
#include "kit/profilerkit_layout.h"
#include "profile/profilercontext.h"

int main(int argc, char** argv)
{
    const bool kit = ProfilerKitInit(SProfilerInitParams());
    void* plugin = dlopen(argc > 1 ? argv[1] : "./plugin.so", RTLD_NOW);
    auto run = plugin != nullptr
                   ? reinterpret_cast<void (*)(int)>(dlsym(plugin, "PackagePluginRun"))
                   : nullptr;
    SProfilerContext* context = GetProfiler();
    const int32_t modules = context->m_ProfilerNumLoadedModules;
    {
        PROFILE_SCOPE("Package::Shared", 0);
    }
    if (run != nullptr)
        run(3);
    const auto* entries =
        static_cast<SProfilerKitScopeEntry*>(context->m_Threads[0].m_ScopeEntries);
    const bool ok = kit && run != nullptr && modules == 2 && context->m_NumScopes == 1 &&
                    entries[0].m_Calls == 4 && HashString("abc") == 0x0E397631u &&
                    ProfilerKitReport(stdout);
    ProfilerKitShutdown();
    if (plugin != nullptr)
        dlclose(plugin);
    std::printf("package client: %s %s %d\n", ok ? "ok" : "FAILED", PROFILERCONTEXT_VERSION_STRING,
                PROFILERCONTEXT_VERSION);
    return ok ? 0 : 1;
}
