// Fuzz target for the registries of threads, scopes and modules, compiled in with the
// library so that this target owns the assertion handler (which continues). Each input is
// a sequence of operations on a freshly reset context, with the invariants checked after
// every step; one operation moves the rest of the input to a real new thread. The caller's
// buffers (scope table, module records) are exact-size heap blocks, so the address
// sanitizer's guard bytes catch any access outside them. Linux.
#include <bit>
#include <cstring>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/hash/hash.h"
#include "fuzz_input.h"
#include "profile/profilercontext.h"

namespace
{

int g_FailIn = -1, g_Live = 0, g_Warnings = 0; // the allocation that fails; blocks held
SAllocator g_Allocator = {[](SAllocator*, uint32_t size, uint32_t) {
                              return g_FailIn-- == 0 ? nullptr : (++g_Live, std::malloc(size));
                          },
                          [](SAllocator*, void* block) { --g_Live, std::free(block); }};

// Static texts of the callers: a hash collision (s19161, s53632), names that differ only in
// a trailing blank, the empty name and one longer than a thread name.
const std::string kNames[] = {"A", "s19161", "s53632", "Render",
                              "",  "A ",     "Audio",  std::string(300, 'x')};
SProfilerContext& g_Ctx = *GetProfiler();
ThreadMutex g_Lock;
int32_t g_Slots[8];
std::vector<SProfilerScope> g_Table;
struct SModule // a loaded module's records and its own copies of their texts
{
    std::vector<SProfilerStaticScope> m_Records;
    std::vector<std::string> m_Texts;
} g_Modules[PROFILER_MAX_MODULES + 4];

// A registration, checked against what its slot and the table held before.
void Register(int32_t* slot, const char* name, float ms)
{
    const int32_t before = *slot, count = g_Ctx.m_NumScopes;
    bool known = false;
    for (const SProfilerScope& scope : std::span(g_Ctx.m_Scopes, count))
        known |= scope.m_NameHash == HashString(name);
    const int32_t index = g_Ctx.RegisterScope(slot, name, ms);
    if (g_Ctx.m_BigLock == nullptr || before >= 0)
        Check(*slot == before && index == (before >= 0 ? before : PROFILER_SCOPE_NOT_READY));
    else if (index == PROFILER_SCOPE_TABLE_FULL)
        Check(*slot == before && !known && count == g_Ctx.m_NumScopeEntries);
    else
        Check(*slot == index && (known ? index < count : index == count) &&
              g_Ctx.m_Scopes[index].m_Name == name);
}

bool RegisterRecord(SProfilerStaticScope* record, uint32_t)
{
    Register(&record->m_Index, record->m_Name, record->m_ThresholdMs);
    return true;
}

void CheckInvariants()
{
    const int32_t scopes = g_Ctx.m_NumScopes;
    const uint32_t threads = uint32_t(g_Ctx.m_NumThreads), self = g_Ctx.PeekThreadID();
    Check(threads <= PROFILER_MAX_THREADS && g_Live == 2 * int(threads) && scopes >= 0 &&
          scopes <= g_Ctx.m_NumScopeEntries && g_Warnings <= 1 &&
          g_Ctx.m_Flags == (g_Warnings ? PROFILER_FLAG_OUT_OF_SCOPES_WARNED : 0));
    Check(self == 0 || self == PROFILER_INVALID_THREAD_ID ||
          self - g_Ctx.m_FirstThreadID < threads);
    // One descriptor per hash, whatever the texts; reading a freed text fails in the sanitizer.
    std::set<uint32_t> hashes;
    for (const SProfilerScope& scope : std::span(g_Ctx.m_Scopes, scopes))
        Check(hashes.insert(scope.m_NameHash).second &&
              (scope.m_Name == nullptr || HashString(scope.m_Name) == scope.m_NameHash));
    auto holds = [&](int32_t slot, const char* name) {
        return slot < scopes && (slot < 0 || g_Ctx.m_Scopes[slot].m_NameHash == HashString(name));
    };
    for (int c = 0; c < 8; ++c)
        Check(holds(g_Slots[c], kNames[c].c_str()));
    // Once the context is ready, a loaded module's records up to the first unnamed one are
    // registered (unless the table is full) and keep a named descriptor: unloading another
    // module re-points the name to a text that is still loaded.
    int loaded = 0;
    for (const SModule& module : g_Modules)
    {
        loaded += !module.m_Records.empty();
        for (const SProfilerStaticScope& r : module.m_Records)
        {
            if (r.m_Name == nullptr)
                break;
            Check(r.m_Index < 0 ? !g_Ctx.m_BigLock || scopes == g_Ctx.m_NumScopeEntries
                                : holds(r.m_Index, r.m_Name) && g_Ctx.m_Scopes[r.m_Index].m_Name);
        }
    }
    Check(g_Ctx.m_ProfilerNumLoadedModules == loaded);
}

// Operations on the calling thread until the input ends (false) or asks for another thread
// (true): the library keeps its own thread-local copy of the id, so only a new thread
// starts unregistered.
bool RunOperations(SInput& in)
{
    while (in.m_Size > 0)
    {
        const uint8_t op = in.Byte() % 11, arg = in.Byte();
        const char* text = kNames[arg % 8].c_str();
        const uint32_t next = uint32_t(g_Ctx.m_NumThreads + g_Ctx.m_FirstThreadID);
        SModule& module = g_Modules[arg % std::size(g_Modules)];
        SProfilerStaticScope stranger = {-1, 0.0f, "stranger"};
        uint32_t id = 0;
        SProfilerThread* record = nullptr;
        switch (op)
        {
        case 0:
            Check(g_Ctx.RegisterThread(text) == 0 || g_Ctx.PeekThreadID() == next);
            break;
        case 1: // the next id, or the failure value and no record
            id = g_Ctx.CreateThreadData(text);
            Check(id == (uint32_t(g_Ctx.m_NumThreads + g_Ctx.m_FirstThreadID) == next
                             ? PROFILER_INVALID_THREAD_ID
                             : next));
            break;
        case 2: // ids below the first create the caller's record
            record = g_Ctx.GetThreadData(g_Ctx.m_FirstThreadID + arg % 40 - 2);
            Check((!record || size_t(record - g_Ctx.m_Threads) < PROFILER_MAX_THREADS) &&
                  g_Ctx.GetThreadID() == g_Ctx.PeekThreadID());
            break;
        case 3: // NaN, infinities and huge values among the thresholds
            Register(&g_Slots[arg % 8], text, std::bit_cast<float>(in.Byte() * 0x01010101u));
            break;
        case 4: // load one to six records, possibly unnamed ones among them
            if (!module.m_Records.empty())
                break;
            module.m_Texts.resize(1 + in.Byte() % 6);
            module.m_Records.resize(module.m_Texts.size());
            for (size_t r = 0; r < module.m_Texts.size(); ++r)
            {
                const uint8_t pick = in.Byte();
                module.m_Texts[r] = kNames[pick % 8];
                module.m_Records[r] = {-1, float(pick % 9),
                                       pick < 240 ? module.m_Texts[r].c_str() : nullptr};
            }
            id = uint32_t(g_Ctx.m_ProfilerNumLoadedModules);
            g_Ctx.RegisterModule(&module.m_Records[0],
                                 &module.m_Records[0] + module.m_Records.size());
            if (id == PROFILER_MAX_MODULES)
                module = {}; // refused: never loaded
            break;
        case 5: // unload: the records and texts go away, so a kept pointer would dangle
            g_Ctx.UnregisterModule(module.m_Records.empty() ? &stranger : &module.m_Records[0]);
            module = {};
            break;
        case 6: // the context becomes ready: the owner registers what is loaded
            g_Ctx.m_BigLock = &g_Lock;
            g_Ctx.ForEachModuleScope(&RegisterRecord, 0);
            break;
        case 7:
            g_FailIn = arg % 4;
            break;
        case 8: // a creation callback that tries a nested creation and registers a scope
            g_Ctx.m_OnThreadCreated = +[](uint32_t, const char* name) {
                Check(name && g_Ctx.CreateThreadData("nested") == PROFILER_INVALID_THREAD_ID);
                Register(&g_Slots[0], kNames[0].c_str(), 1.0f);
            };
            break;
        case 9:
            g_Ctx.m_OnThreadCreated = nullptr;
            break;
        }
        CheckInvariants();
        if (op == 10)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    AssertHandler = [](const char*, int, const char*) { return false; };
    ThreadMutexInit(&g_Lock);
    LogSetForward([](ELogSeverity severity, const char* channel, const char*, uint32_t, const char*,
                     va_list) {
        Check(severity == E_LOG_WARNING && std::strcmp(channel, "PROFILE") == 0);
        return ++g_Warnings > 0;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const SProfilerThread& thread : std::span(g_Ctx.m_Threads, g_Ctx.m_NumThreads))
        for (void* buffer : {thread.m_ScopeEntries, thread.m_ThreadEntries})
            g_Allocator.m_Free(&g_Allocator, buffer);
    std::memset(g_Ctx.m_Threads, 0, sizeof(g_Ctx.m_Threads));
    std::fill(std::begin(g_Slots), std::end(g_Slots), -1);
    for (SModule& module : g_Modules)
        module = {};
    g_Ctx.m_NumThreads = g_Ctx.m_NumScopes = g_Ctx.m_ProfilerNumLoadedModules = g_Warnings = 0;
    g_Ctx.m_Flags = 0;
    g_Ctx.m_BigLock = nullptr;
    g_Ctx.m_OnThreadCreated = nullptr;
    g_Ctx.GetThreadName = [] { return kNames[7].c_str(); };
    g_FailIn = -1;
    SInput in = {data, size};
    g_Ctx.m_ProfilerAllocator = &g_Allocator;
    g_Ctx.m_NumScopeEntries = in.Byte() % 12;
    g_Ctx.m_NumThreadEntries = in.Byte() % 4;
    g_Ctx.m_FirstThreadID = 1 + in.Byte();
    g_Table = std::vector<SProfilerScope>(size_t(g_Ctx.m_NumScopeEntries));
    g_Ctx.m_Scopes = g_Table.data();
    for (bool another = true; another;)
        std::thread([&] { another = RunOperations(in); }).join();
    return 0;
}
