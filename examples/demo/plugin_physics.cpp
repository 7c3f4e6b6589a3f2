// The demo's physics plug-in. The host loads it before it sets the profiler up: the module
// is only recorded then, and its scopes register at their first run. Its jobs run on the host's
// workers; "Math::Transform" and "Resource::Load" are names it shares with the audio
// plug-in, each with its own text. Portable.
#include "common/debug/log.h"
#include "common/thread/synchronization.h"
#include "demo_plugin.h"
#include "demo_plugin_export.h"
#include "kit/profilerkit.h"

namespace
{

double s_State = 1.0; // touched by the main loop's thread only

double Transform(double seed)
{
    PROFILE_SCOPE("Math::Transform", 0);
    return DemoWork(400, seed);
}

// A slow call: a collision mesh read from disk, past its 2 ms threshold.
void LoadResource(int frame)
{
    PROFILE_SCOPE("Resource::Load", 2);
    ThreadSleep(5);
    LogWrite(E_LOG_INFO, "PHYSICS", __FILE__, __LINE__, "collision mesh reloaded at frame %d",
             frame);
}

void Update(int frame)
{
    PROFILE_SCOPE("Physics::Step", 4);
    s_State = Transform(s_State + frame);
    if (frame % 20 == 0)
        LoadResource(frame);
}

double Solve(int job)
{
    PROFILE_SCOPE("Physics::Solve", 1);
    return Transform(job) + DemoWork(1500, job);
}

const SDemoPlugin s_Plugin = {"physics", &Update, &Solve};

} // namespace

extern "C" DEMO_PLUGIN_EXPORT const SDemoPlugin* DemoPluginGet()
{
    return &s_Plugin;
}
