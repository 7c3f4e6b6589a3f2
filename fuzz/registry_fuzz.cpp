// Fuzz target for the registries of threads, scopes and modules, compiled in with the
// library so that this target owns the assertion handler (which continues). Each input is
// a sequence of operations on a freshly reset context, with the invariants checked after
// every step; one operation moves the rest of the input to a real new thread. The caller's
// buffers (scope table, module records) are exact-size heap blocks, so the address
// sanitizer's guard bytes catch any access outside them. Linux.
#include <thread>

#include "fuzz_input.h"
#include "profile/profilercontext.h"

// The modules' texts: a hash collision (s19161, s53632), names that differ only in a
// trailing blank, the empty name and a long one.
static const std::string kNames[] = {"A", "s19161", "s53632", "Render",
                                     "",  "A ",     "Audio",  std::string(300, 'x')};
static SProfilerContext& g_Ctx = *GetProfiler();
static ThreadMutex* const g_Lock = ThreadMutexCreate();
static std::vector<SProfilerScope> g_Table;
struct SModule // a loaded module's records and its own copies of their texts
{
    std::vector<SProfilerStaticScope> m_Records;
    std::vector<std::string> m_Texts;
};
static SModule g_Modules[PROFILER_MAX_MODULES + 4];

static bool RegisterRecord(SProfilerStaticScope* record, uint32_t)
{
    g_Ctx.RegisterScope(&record->m_Index, record->m_Name, record->m_ThresholdMs);
    return true;
}

// Counts within bounds, no buffer lost, one descriptor per hash (reading a text freed too
// early fails in the sanitizer). Once the context is ready, a loaded module's records up to
// the first unnamed one hold the index of their hash (unless the table is full and the hash
// new), whose name stays set: unloading another module re-points it to a text still loaded.
static void CheckInvariants()
{
    const int32_t scopes = g_Ctx.m_NumScopes, threads = g_Ctx.m_NumThreads;
    Check(threads <= PROFILER_MAX_THREADS && g_Live == 2 * threads &&
          scopes <= g_Ctx.m_NumScopeEntries);
    const SProfilerScope* table = g_Ctx.m_Scopes;
    for (int32_t v = 0; v < scopes; ++v)
        for (int32_t w = 0; w <= v; ++w)
            Check((table[w].m_NameHash == table[v].m_NameHash) == (w == v) &&
                  (!table[v].m_Name || HashString(table[v].m_Name) == table[v].m_NameHash));
    auto known = [&](const char* name) {
        return std::any_of(table, table + scopes,
                           [&](auto& s) { return s.m_NameHash == HashString(name); });
    };
    int loaded = 0;
    for (const SModule& module : g_Modules)
    {
        loaded += !module.m_Records.empty();
        for (auto r = module.m_Records.begin(); r != module.m_Records.end() && r->m_Name; ++r)
            Check(r->m_Index < 0
                      ? !g_Ctx.m_BigLock || (scopes == g_Ctx.m_NumScopeEntries && !known(r->m_Name))
                      : r->m_Index < scopes && table[r->m_Index].m_Name &&
                            table[r->m_Index].m_NameHash == HashString(r->m_Name));
    }
    Check(g_Ctx.m_ProfilerNumLoadedModules == loaded);
}

// Operations on the calling thread until the input ends (false) or asks for another thread
// (true): the library keeps its own thread-local copy of the id, so only a new thread
// starts unregistered.
static bool RunOperations(SInput& in)
{
    while (in.m_Size > 0)
    {
        const uint8_t op = in.Byte() % 5, arg = in.Byte();
        const uint32_t next = uint32_t(g_Ctx.m_NumThreads + g_Ctx.m_FirstThreadID);
        const int32_t modules = g_Ctx.m_ProfilerNumLoadedModules;
        SModule& module = g_Modules[arg % std::size(g_Modules)];
        switch (op)
        {
        case 0: // the thread's id; a new record's is the next, so ids stay in range and unique
            Check(g_Ctx.GetThreadID() == g_Ctx.PeekThreadID() &&
                  (uint32_t(g_Ctx.m_NumThreads + g_Ctx.m_FirstThreadID) == next ||
                   g_Ctx.PeekThreadID() == next));
            break;
        case 1: // load a module of one to eight records, the last maybe unnamed
            if (!module.m_Records.empty())
                break;
            module.m_Texts.assign(kNames + arg % 8, std::end(kNames));
            module.m_Records.reserve(module.m_Texts.size()); // exact size
            for (const std::string& name : module.m_Texts)
                module.m_Records.push_back({-1, 1.0f, name.c_str()});
            module.m_Records.back().m_Name = arg & 0x80 ? nullptr : module.m_Records.back().m_Name;
            g_Ctx.RegisterModule(&module.m_Records.front(), &module.m_Records.back() + 1);
            if (modules == PROFILER_MAX_MODULES)
                module = {}; // refused: never loaded
            break;
        case 2: // unload (or an unknown module): the records and texts go away
            g_Ctx.UnregisterModule(module.m_Records.data());
            module = {};
            break;
        case 3: // the context becomes ready: the owner registers what is loaded
            g_Ctx.m_BigLock = g_Lock;
            g_Ctx.ForEachModuleScope(&RegisterRecord, 0);
            break;
        }
        CheckInvariants();
        if (op == 4)
            return true;
    }
    return false;
}

// Input: the capacities and the first thread id, then operations.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AssertHandler = [](const char*, int, const char*) { return false; };
    LogSetForward([](ELogSeverity, const char*, const char*, uint32_t, const char*, va_list) {
        return true; // the full table's warning, delivered
    });
    for (int32_t i = 0; i < g_Ctx.m_NumThreads; ++i)
        for (void* buffer : {g_Ctx.m_Threads[i].m_ScopeEntries, g_Ctx.m_Threads[i].m_ThreadEntries})
            g_Allocator.m_Free(&g_Allocator, buffer);
    std::fill(std::begin(g_Modules), std::end(g_Modules), SModule());
    g_Ctx.m_Flags = g_Ctx.m_NumThreads = g_Ctx.m_NumScopes = g_Ctx.m_ProfilerNumLoadedModules = 0;
    std::tie(g_Ctx.m_BigLock, g_Ctx.m_ProfilerAllocator) = std::pair(nullptr, &g_Allocator);
    SInput in = {data, size};
    g_Ctx.m_NumScopeEntries = in.Byte() % 12;
    g_Ctx.m_NumThreadEntries = in.Byte() % 4;
    g_Ctx.m_FirstThreadID = 1 + in.Byte();
    g_Table = std::vector<SProfilerScope>(size_t(g_Ctx.m_NumScopeEntries));
    g_Ctx.m_Scopes = g_Table.data();
    for (bool another = true; another;)
        std::thread([&] { another = RunOperations(in); }).join();
    return 0;
}
