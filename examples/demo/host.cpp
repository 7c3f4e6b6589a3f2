// The demo's host: the owner of the profiler context. It loads the physics plug-in before
// the set-up and the audio plug-in after it, runs a main loop with frame marks beside
// named workers, unloads and reloads audio while the workers run, and ends with the report
// and a trace file. Portable; the OS loader is reached through demo_os.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/debug/log.h"
#include "common/hash/hash.h"
#include "common/thread/synchronization.h"
#include "common/thread/thread.h"
#include "demo_os.h"
#include "demo_plugin.h"
#include "kit/profilerkit.h"

namespace
{

constexpr int FRAMES_PER_PHASE = 20; // frames with both plug-ins, without audio, with both
constexpr int WORKERS = 3;

// The scope names whose descriptors the demo follows through the unload and the reload.
const char* const s_FollowedNames[] = {"Math::Transform", "Resource::Load", "Audio::Mix",
                                       "Audio::Decode"};

struct SPlugin
{
    void* m_Module;
    const SDemoPlugin* m_Table;
};

struct SWorker
{
    const SDemoPlugin* m_Physics;
    std::atomic<bool>* m_Stop;
    std::atomic<int> m_Jobs{0};
    double m_Result = 0.0;
    ThreadImpl* m_Thread = nullptr;
    char m_Name[16] = {};
};

SPlugin s_Physics = {}, s_Audio = {};
int s_Step = 0;
double s_State = 1.0;

void Step(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::printf("[%d] ", ++s_Step);
    std::vprintf(format, args);
    std::printf("\n");
    std::fflush(stdout);
    va_end(args);
}

bool LoadPlugin(const char* fileName, SPlugin* plugin)
{
    plugin->m_Module = DemoModuleLoad(fileName);
    const auto get = plugin->m_Module != nullptr
                         ? reinterpret_cast<DemoPluginGetFunc>(
                               DemoModuleEntry(plugin->m_Module, DEMO_PLUGIN_ENTRY))
                         : nullptr;
    if (get == nullptr)
    {
        std::printf("cannot load the plug-in %s\n", fileName);
        return false;
    }
    plugin->m_Table = get();
    return true;
}

// The followed names' descriptors: index (found by the name's hash) and the name that the
// report shows, marked when no loaded module uses it.
void PrintFollowedNames()
{
    SProfilerContext* context = GetProfiler();
    const int32_t count =
        std::atomic_ref<int32_t>(context->m_NumScopes).load(std::memory_order_acquire);
    for (const char* name : s_FollowedNames)
    {
        const uint32_t hash = HashString(name);
        for (int32_t i = 0; i < count; ++i)
        {
            char shown[64];
            if (context->m_Scopes[i].m_NameHash == hash &&
                ProfilerKitScopeName(i, shown, sizeof(shown)))
                std::printf("      %-16s index %2d  %s\n", name, static_cast<int>(i), shown);
        }
    }
    std::fflush(stdout);
}

void Render(int frame)
{
    PROFILE_SCOPE("Main::Render", 0);
    s_State = DemoWork(1500, s_State + frame);
    ThreadSleep(2); // waiting for the display
}

void Frame(int frame)
{
    PROFILE_FRAME();
    PROFILE_SCOPE("Main::Frame", 0);
    s_Physics.m_Table->m_Update(frame);
    if (s_Audio.m_Module != nullptr)
        s_Audio.m_Table->m_Update(frame);
    Render(frame);
}

void RunFrames(int first, int last)
{
    for (int frame = first; frame <= last; ++frame)
        Frame(frame);
}

void WorkerMain(void* arg)
{
    SWorker* worker = static_cast<SWorker*>(arg);
    for (int job = 0; !worker->m_Stop->load(); ++job)
    {
        {
            PROFILE_SCOPE("Worker::Job", 0);
            worker->m_Result += worker->m_Physics->m_Job(job);
        }
        worker->m_Jobs.store(job + 1);
        ThreadSleep(1); // waiting for the next job
    }
}

} // namespace

int main(int argc, char** argv)
{
    const char* tracePath = argc > 1 ? argv[1] : "profiler_demo_trace.json";
    SProfilerContext* context = GetProfiler();
    std::printf("profilercontext demo: one host, two plug-ins, one shared profiler context\n");
    ThreadAttachCurrent("Main");

    if (!LoadPlugin(DEMO_PHYSICS_FILE, &s_Physics))
        return 1;
    Step("physics plug-in loaded before the set-up: %d modules in the table, %d names",
         static_cast<int>(context->m_ProfilerNumLoadedModules),
         static_cast<int>(context->m_NumScopes));

    SLogInitParams logParams; // standard output, warnings and worse
    LogInit(logParams);
    LogSetChannelSeverity("PHYSICS", E_LOG_INFO);
    SProfilerInitParams params; // default allocator, 256 scopes, 1024 calls kept per thread
    if (!ProfilerKitInit(params))
        return 1;
    context->GetThreadID(); // the main thread registers first, under its name "Main"
    Step("context set up: %d names (each call site registers at its first run); main thread "
         "id %u",
         static_cast<int>(context->m_NumScopes), context->PeekThreadID());
    Step("log: warnings and worse; channel PHYSICS down to info, AUDIO's info lines dropped");

    if (!LoadPlugin(DEMO_AUDIO_FILE, &s_Audio))
        return 1;
    Step("audio plug-in loaded after the set-up: %d modules in the table",
         static_cast<int>(context->m_ProfilerNumLoadedModules));

    std::atomic<bool> stop{false};
    SWorker workers[WORKERS];
    for (int i = 0; i < WORKERS; ++i)
    {
        workers[i].m_Physics = s_Physics.m_Table;
        workers[i].m_Stop = &stop;
        std::snprintf(workers[i].m_Name, sizeof(workers[i].m_Name), "Worker %d", i + 1);
        workers[i].m_Thread = ThreadCreate(workers[i].m_Name, &WorkerMain, &workers[i], 0);
    }
    Step("%d workers started through ThreadCreate, solving physics jobs", WORKERS);

    Step("frames 1-%d: physics and audio update, frame marks", FRAMES_PER_PHASE);
    RunFrames(1, FRAMES_PER_PHASE);
    PrintFollowedNames();

    // The kit locks the module table and the names itself; the one rule left is not to
    // unload code that a thread runs: the workers run only physics code.
    for (int i = 0; i < WORKERS; ++i)
        for (int wait = 0; wait < 5000 && workers[i].m_Jobs.load() == 0; ++wait)
            ThreadSleep(1);
    int jobs = 0;
    for (const SWorker& worker : workers)
        jobs += worker.m_Jobs.load();
    DemoModuleUnload(s_Audio.m_Module);
    s_Audio.m_Module = nullptr;
    Step("audio plug-in unloaded while the workers run (%d jobs so far):", jobs);
    PrintFollowedNames();

    Step("frames %d-%d: physics only", FRAMES_PER_PHASE + 1, 2 * FRAMES_PER_PHASE);
    RunFrames(FRAMES_PER_PHASE + 1, 2 * FRAMES_PER_PHASE);

    if (!LoadPlugin(DEMO_AUDIO_FILE, &s_Audio))
        return 1;
    Step("frames %d-%d: physics and audio", 2 * FRAMES_PER_PHASE + 1, 3 * FRAMES_PER_PHASE);
    RunFrames(2 * FRAMES_PER_PHASE + 1, 3 * FRAMES_PER_PHASE);
    Step("audio plug-in loaded again and run: its names back at their indices");
    PrintFollowedNames();

    stop = true;
    jobs = 0;
    double result = 0.0;
    for (SWorker& worker : workers)
    {
        ThreadDestroy(worker.m_Thread);
        jobs += worker.m_Jobs.load();
        result += worker.m_Result;
    }
    Step("workers stopped after %d jobs (checksum %.0f)", jobs, result + s_State);

    std::printf("\n");
    ProfilerKitReport(stdout);
    std::printf("\n");
    const bool written = ProfilerKitWriteTrace(tracePath);
    std::error_code error;
    const std::string shown = std::filesystem::absolute(tracePath, error).string();
    if (written)
        Step("trace written: %s (open it in ui.perfetto.dev)", shown.c_str());
    else
        Step("trace NOT written: %s", shown.c_str());

    ProfilerKitShutdown();
    DemoModuleUnload(s_Audio.m_Module);
    DemoModuleUnload(s_Physics.m_Module);
    LogShutdown();
    ThreadDetachCurrent();
    return written ? 0 : 1;
}
