// Fuzz target for the registries of threads, scopes and modules, compiled in with the
// library's code so that this target owns the assertion handler (which continues). Each
// input is a sequence of operations on a freshly reset context; after every step the
// invariants are checked against a shadow of what the target did. Linux.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/hash/hash.h"
#include "common/thread/mutex.h"
#include "common/thread/synchronization.h"
#include "common/time/counter.h"
#include "fuzz_input.h"
#include "profile/profilercontext.h"

namespace
{

// Blocks by address and size; fails on demand after a countdown.
std::map<void*, uint32_t> g_Blocks;
int g_FailIn = -1;
SAllocator g_Allocator = {
    [](SAllocator*, uint32_t size, uint32_t alignment) -> void* {
        if (g_FailIn >= 0 && g_FailIn-- == 0)
            return nullptr;
        void* block = size
                          ? std::aligned_alloc(alignment, (size + alignment - 1) & ~(alignment - 1))
                          : nullptr;
        if (block != nullptr)
            std::memset(block, 0xCD, size), g_Blocks[block] = size;
        return block;
    },
    [](SAllocator*, void* block) { Check(g_Blocks.erase(block) == 1), std::free(block); }};

const char* const kNames[] = {"A", "B", "Physics::Step", "Render", "", "A ", "Audio"};
constexpr int kModules = 36, kGuard = 4, kCallers = 8;
constexpr uint8_t kPattern = 0xA5;

// A loaded module: its records between guard records, and its own copies of the texts.
struct SModule
{
    std::vector<SProfilerStaticScope> m_Records;
    std::vector<std::string> m_Texts;
    int m_Count = 0;
    bool Live() const { return !m_Records.empty(); }
    SProfilerStaticScope* Begin() { return m_Records.data() + kGuard; }
    void Unload() // gives the memory back, so a kept pointer dangles for the sanitizer
    {
        std::vector<SProfilerStaticScope>().swap(m_Records);
        std::vector<std::string>().swap(m_Texts);
    }
};

struct SRun
{
    SProfilerContext* m_Ctx = GetProfiler();
    ThreadMutex m_Lock;
    std::vector<SProfilerScope> m_Table; // kGuard entries either side of the capacity
    SModule m_Modules[kModules];
    std::string m_CallerTexts[kCallers];
    int32_t m_CallerSlots[kCallers];
    std::vector<uint32_t> m_Ticks; // expected threshold of each descriptor
    int m_Warnings = 0;
};
SRun* g_Run;

bool Forward(ELogSeverity, const char*, const char*, uint32_t, const char*, va_list)
{
    ++g_Run->m_Warnings;
    return true;
}

// Independent of the library's: whole milliseconds exact in integers while the product is
// below 2^53, the double division beyond that.
uint32_t ExpectedTicks(float ms, uint64_t frequency)
{
    const int64_t whole = std::isnan(ms)  ? 0
                          : ms >= 0x1p63f ? INT64_MAX
                          : ms < -0x1p63f ? INT64_MIN
                                          : static_cast<int64_t>(std::trunc(ms));
    const uint64_t product = static_cast<uint64_t>(whole) * frequency;
    if (whole >= 0 && (whole == 0 || uint64_t(whole) < (uint64_t(1) << 53) / frequency))
        return static_cast<uint32_t>(product / 1000);
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<double>(product) / 1000.0));
}

bool GuardIntact(const void* begin, size_t bytes)
{
    const uint8_t* p = static_cast<const uint8_t*>(begin);
    for (size_t i = 0; i < bytes; ++i)
        if (p[i] != kPattern)
            return false;
    return true;
}

void CheckInvariants(SRun& run, int32_t first)
{
    SProfilerContext& ctx = *run.m_Ctx;
    Check(ctx.m_NumThreads >= 0 && ctx.m_NumThreads <= PROFILER_MAX_THREADS);
    for (int32_t i = 0; i < ctx.m_NumThreads; ++i)
    {
        const SProfilerThread& record = ctx.m_Threads[i];
        Check(g_Blocks.count(record.m_ScopeEntries) && g_Blocks.count(record.m_ThreadEntries));
        Check(g_Blocks[record.m_ScopeEntries] == uint32_t(ctx.m_NumScopeEntries) * 16);
        Check(g_Blocks[record.m_ThreadEntries] == ctx.m_NumThreadEntries * 16);
        Check(std::memchr(record.m_Name, 0, sizeof(record.m_Name)) != nullptr);
        Check(record.m_ClientWord0 == 0 && record.m_ClientWord1 == 0 && record.m_ClientWord2 == 0);
    }
    const uint32_t self = ctx.PeekThreadID();
    Check(self == 0 || self == PROFILER_INVALID_THREAD_ID ||
          (self >= uint32_t(first) && self < uint32_t(first + ctx.m_NumThreads)));

    Check(ctx.m_NumScopes >= 0 && ctx.m_NumScopes <= ctx.m_NumScopeEntries);
    Check(size_t(ctx.m_NumScopes) == run.m_Ticks.size());
    Check(GuardIntact(run.m_Table.data(), kGuard * sizeof(SProfilerScope)));
    Check(GuardIntact(run.m_Table.data() + kGuard + ctx.m_NumScopeEntries,
                      kGuard * sizeof(SProfilerScope)));
    int live = 0;
    for (SModule& module : run.m_Modules)
        live += module.Live();
    Check(ctx.m_ProfilerNumLoadedModules == live);
    for (int32_t v = 0; v < ctx.m_NumScopes; ++v)
    {
        const SProfilerScope& scope = ctx.m_Scopes[v];
        Check(scope.m_ThresholdTicks == run.m_Ticks[v]);
        for (int32_t w = v + 1; w < ctx.m_NumScopes; ++w)
            Check(ctx.m_Scopes[w].m_NameHash != scope.m_NameHash);
        bool known = scope.m_Name == nullptr;
        for (const std::string& text : run.m_CallerTexts)
            known |= scope.m_Name == text.c_str();
        for (int m = 0; m < ctx.m_ProfilerNumLoadedModules; ++m)
            for (SModule& module : run.m_Modules)
                if (module.Live() &&
                    module.Begin() == ctx.m_ProfilerLoadedProfilerModules[m].m_Begin)
                    for (const std::string& text : module.m_Texts)
                        known |= scope.m_Name == text.c_str();
        Check(known);
        if (scope.m_Name != nullptr)
            Check(HashString(scope.m_Name) == scope.m_NameHash);
    }
    // Every index slot negative or the index of its own name.
    auto checkSlot = [&](int32_t slot, const char* name) {
        Check(slot < ctx.m_NumScopes);
        if (slot >= 0)
            Check(ctx.m_Scopes[slot].m_NameHash == HashString(name));
    };
    for (int c = 0; c < kCallers; ++c)
        checkSlot(run.m_CallerSlots[c], run.m_CallerTexts[c].c_str());
    for (SModule& module : run.m_Modules)
    {
        if (!module.Live())
            continue;
        Check(GuardIntact(module.m_Records.data(), kGuard * sizeof(SProfilerStaticScope)));
        Check(GuardIntact(module.Begin() + module.m_Count, kGuard * sizeof(SProfilerStaticScope)));
        for (int r = 0; r < module.m_Count; ++r)
            if (module.Begin()[r].m_Name != nullptr)
                checkSlot(module.Begin()[r].m_Index, module.Begin()[r].m_Name);
    }
    Check(ctx.m_Flags == 0 || ctx.m_Flags == PROFILER_FLAG_OUT_OF_SCOPES_WARNED);
    Check(run.m_Warnings == (ctx.m_Flags != 0));
}

// A registration through the service table, with the shadow's expectations.
void Register(SRun& run, int32_t* slot, const char* name, float ms)
{
    SProfilerContext& ctx = *run.m_Ctx;
    const int32_t before = *slot, count = ctx.m_NumScopes;
    const int32_t index = ctx.RegisterScope(slot, name, ms);
    if (ctx.m_BigLock == nullptr)
        return Check(index == PROFILER_SCOPE_NOT_READY && *slot == before);
    if (before >= 0)
        return Check(index == before && *slot == before);
    if (index == PROFILER_SCOPE_TABLE_FULL)
        return Check(count == ctx.m_NumScopeEntries && *slot == before);
    Check(index >= 0 && *slot == index && ctx.m_Scopes[index].m_Name == name);
    if (index == count)
        run.m_Ticks.push_back(ExpectedTicks(ms, GetCounterFrequency()));
}

bool RegisterRecord(SProfilerStaticScope* record, uint32_t stopAfterFirst)
{
    Register(*g_Run, &record->m_Index, record->m_Name, record->m_ThresholdMs);
    return stopAfterFirst == 0;
}

void OnThreadCreated(uint32_t, const char* name)
{
    SProfilerContext& ctx = *g_Run->m_Ctx;
    Check(name != nullptr && ctx.CreateThreadData("nested") == PROFILER_INVALID_THREAD_ID);
    Register(*g_Run, &g_Run->m_CallerSlots[0], g_Run->m_CallerTexts[0].c_str(), 1.0f);
}

const char* CallerThreadName()
{
    return g_Run->m_CallerTexts[1].c_str();
}

void Reset(SRun& run, SInput& in)
{
    SProfilerContext& ctx = *run.m_Ctx;
    for (int32_t i = 0; i < ctx.m_NumThreads; ++i)
        for (void* buffer : {ctx.m_Threads[i].m_ScopeEntries, ctx.m_Threads[i].m_ThreadEntries})
            g_Allocator.m_Free(&g_Allocator, buffer);
    std::memset(ctx.m_Threads, 0, sizeof(ctx.m_Threads));
    ctx.m_NumThreads = ctx.m_NumScopes = ctx.m_ProfilerNumLoadedModules = 0;
    ctx.m_Flags = 0;
    ctx.m_BigLock = nullptr;
    ctx.m_OnThreadCreated = nullptr;
    ctx.GetThreadName = &CallerThreadName;
    g_FailIn = -1;

    ctx.m_ProfilerAllocator = &g_Allocator;
    ctx.m_NumScopeEntries = in.Byte() % 12;
    ctx.m_NumThreadEntries = in.Byte() % 4;
    ctx.m_FirstThreadID = 1 + in.Byte();
    run.m_Table.assign(ctx.m_NumScopeEntries + 2 * kGuard, SProfilerScope{});
    std::memset(run.m_Table.data(), kPattern, run.m_Table.size() * sizeof(SProfilerScope));
    ctx.m_Scopes = run.m_Table.data() + kGuard;
    for (int c = 0; c < kCallers; ++c)
    {
        run.m_CallerTexts[c] = kNames[c % ARRAY_LENGTH(kNames)];
        run.m_CallerSlots[c] = -1;
    }
    run.m_CallerTexts[kCallers - 1] = std::string(300, 'x'); // longer than a thread name
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    AssertHandler = [](const char*, int, const char*) { return false; };
    LogSetForward(&Forward);
    g_Run = new SRun;
    ThreadMutexInit(&g_Run->m_Lock);
    return 0;
}

namespace
{

// Runs operations on the calling thread until the input ends (false) or asks for another
// thread (true): the library keeps its own thread-local copy of the id, so only a real new
// thread starts unregistered.
bool RunOperations(SRun& run, SInput& in, int32_t first)
{
    SProfilerContext& ctx = *run.m_Ctx;
    while (in.m_Size > 0)
    {
        const uint8_t op = in.Byte(), arg = in.Byte();
        const std::string& text = run.m_CallerTexts[arg % kCallers];
        const int32_t threadsBefore = ctx.m_NumThreads;
        switch (op % 12)
        {
        case 0: // a thread (the calling one, or another after op 4) registers under a name
            if (ctx.RegisterThread(text.c_str()) == 1)
                Check(ctx.PeekThreadID() == uint32_t(first + threadsBefore));
            break;
        case 1:
        {
            const uint32_t id = ctx.CreateThreadData(text.c_str());
            Check(id == PROFILER_INVALID_THREAD_ID ? ctx.m_NumThreads == threadsBefore
                                                   : id == uint32_t(first + threadsBefore));
            break;
        }
        case 2:
            ctx.GetThreadID();
            break;
        case 3:
        {
            const int32_t id = first - 2 + int32_t(arg % 40);
            SProfilerThread* record = ctx.GetThreadData(id);
            Check(record == nullptr || (record >= ctx.m_Threads && record < ctx.m_Threads + 32));
            break;
        }
        case 4: // the operations that follow run on another thread
            CheckInvariants(run, first);
            return true;
        case 5:
        {
            float ms;
            const uint32_t bits = in.Word();
            std::memcpy(&ms, &bits, sizeof(ms));
            Register(run, &run.m_CallerSlots[arg % kCallers], text.c_str(),
                     arg & 0x80 ? ms : float(bits % 5000) / 7.0f);
            break;
        }
        case 6:
        {
            SModule& module = run.m_Modules[arg % kModules];
            if (module.Live())
                break;
            module.m_Count = in.Byte() % 7;
            module.m_Records.assign(module.m_Count + 2 * kGuard, SProfilerStaticScope{});
            std::memset(module.m_Records.data(), kPattern,
                        module.m_Records.size() * sizeof(SProfilerStaticScope));
            module.m_Texts.assign(module.m_Count, std::string());
            for (int r = 0; r < module.m_Count; ++r)
            {
                const uint8_t pick = in.Byte();
                module.m_Texts[r] = kNames[pick % ARRAY_LENGTH(kNames)];
                module.Begin()[r] = {-1, float(pick % 9),
                                     pick >= 240 ? nullptr : module.m_Texts[r].c_str()};
            }
            const bool accepted = ctx.m_ProfilerNumLoadedModules < PROFILER_MAX_MODULES;
            const int32_t count = ctx.m_NumScopes;
            ctx.RegisterModule(module.Begin(), module.Begin() + module.m_Count);
            if (!accepted)
                module.Unload(); // refused: not loaded
            // New descriptors take the threshold of the first record with their name.
            for (int32_t v = count; v < ctx.m_NumScopes; ++v)
                for (int r = 0; r < module.m_Count; ++r)
                    if (module.Begin()[r].m_Index == v)
                    {
                        run.m_Ticks.push_back(
                            ExpectedTicks(module.Begin()[r].m_ThresholdMs, GetCounterFrequency()));
                        break;
                    }
            // Registered up to the first null name, unless the table is full.
            for (int r = 0; accepted && ctx.m_BigLock && r < module.m_Count &&
                            module.Begin()[r].m_Name != nullptr;
                 ++r)
                Check(module.Begin()[r].m_Index >= 0 || ctx.m_NumScopes == ctx.m_NumScopeEntries);
            break;
        }
        case 7: // unload: the records and texts go away, so a kept pointer would dangle
        {
            SModule& module = run.m_Modules[arg % kModules];
            SProfilerStaticScope stranger = {-1, 0.0f, "stranger"};
            ctx.UnregisterModule(module.Live() ? module.Begin() : &stranger);
            module.Unload();
            break;
        }
        case 8: // walk: register every record, or only each module's first
            ctx.ForEachModuleScope(&RegisterRecord, arg & 1);
            break;
        case 9:
            if (ctx.m_BigLock == nullptr)
                ctx.m_BigLock = &run.m_Lock;
            break;
        case 10:
            g_FailIn = arg % 4;
            break;
        case 11:
            ctx.m_OnThreadCreated = arg & 1 ? &OnThreadCreated : nullptr;
            ctx.GetThreadName = arg & 2 ? &CallerThreadName : [] { return (const char*)nullptr; };
            break;
        }
        CheckInvariants(run, first);
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SRun& run = *g_Run;
    SProfilerContext& ctx = *run.m_Ctx;
    SInput in = {data, size};
    Reset(run, in);
    const int32_t first = ctx.m_FirstThreadID;
    for (bool another = true; another;)
        std::thread([&] { another = RunOperations(run, in, first); }).join();
    for (SModule& module : run.m_Modules)
        if (module.Live())
            ctx.UnregisterModule(module.Begin()), module.Unload();
    run.m_Ticks.clear();
    run.m_Warnings = 0;
    for (uint8_t byte : ctx.m_OpaqueBlock)
        Check(byte == 0);
    Check(ctx.m_OpaqueWord == 0);
    return 0;
}
