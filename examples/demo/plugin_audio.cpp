// The demo's audio plug-in. The host loads it after the set-up, unloads it while the
// workers run and loads it again; its scopes register at their first run. It shares the
// names "Math::Transform" and "Resource::Load" with the physics plug-in; "Audio::Mix" and
// "Audio::Decode" are its own. Portable.
#include "common/debug/log.h"
#include "common/thread/synchronization.h"
#include "demo_plugin.h"
#include "demo_plugin_export.h"
#include "kit/profilerkit.h"

namespace
{

// Main loop's thread only. Zero again after each load: an unload really frees the module.
int s_Updates = 0;
double s_State = 1.0;

double Transform(double seed)
{
    PROFILE_SCOPE("Math::Transform", 0);
    return DemoWork(300, seed);
}

// A slow call: the sound bank read on the first update after each load.
void LoadResource()
{
    PROFILE_SCOPE("Resource::Load", 2);
    ThreadSleep(5);
    LogWrite(E_LOG_WARNING, "AUDIO", __FILE__, __LINE__, "sound bank reloaded: voices restarted");
}

void Decode(int frame)
{
    PROFILE_SCOPE("Audio::Decode", 1);
    s_State = DemoWork(1200, s_State + frame);
}

void Mix(int frame)
{
    PROFILE_SCOPE("Audio::Mix", 2);
    if (s_Updates++ == 0)
        LoadResource();
    Decode(frame);
    s_State = Transform(s_State);
    // Below the AUDIO channel's threshold: the host's log drops it.
    LogWrite(E_LOG_INFO, "AUDIO", __FILE__, __LINE__, "mixed frame %d", frame);
}

const SDemoPlugin s_Plugin = {"audio", &Mix, nullptr};

} // namespace

extern "C" DEMO_PLUGIN_EXPORT const SDemoPlugin* DemoPluginGet()
{
    return &s_Plugin;
}
