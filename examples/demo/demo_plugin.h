// What the demo's host and its plug-ins share: each plug-in exports one entry,
// DemoPluginGet, that returns its table of functions, and the simulated work that they all
// do. Portable.
#pragma once

struct SDemoPlugin
{
    const char* m_Name;          // "physics", "audio"
    void (*m_Update)(int frame); // once per frame, on the main loop's thread
    double (*m_Job)(int job);    // a worker's job, on any thread; null when it has none
};

typedef const SDemoPlugin* (*DemoPluginGetFunc)();
#define DEMO_PLUGIN_ENTRY "DemoPluginGet"

// A few microseconds of arithmetic per hundred steps that the compiler cannot drop.
inline double DemoWork(int steps, double seed)
{
    double x = seed;
    for (int i = 0; i < steps; ++i)
        x = x * 0.999 + 1.0 / (1.0 + x * x);
    return x;
}
