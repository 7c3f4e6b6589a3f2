// The thread, scope and module registries through the service table: ids and records,
// failures, the threshold conversion, the scope table, the module table and the release of
// names, and both registries under concurrent use. Portable.
#include <cstdarg>
#include <limits>
#include <numeric>

#include "profile/profilercontext.h"
#include "profile/profilercontext_internal.h"
#include "test_support.h"

TLS_GLOBAL_DECLARE(g_profiler_this_thread_id);

static constexpr uint32_t kInvalid = PROFILER_INVALID_THREAD_ID;
static std::vector<uint32_t> s_Seen;
static int s_LockFreeCalls = 0;
static SCountingAllocator* s_Backing = nullptr;

// Sets the context up the way its owning client does: allocator, capacities, first thread
// id and scope table first, the lock last with a release store.
class ProfilerTest : public testing::Test
{
protected:
    void Configure(int32_t scopes, uint32_t threadEntries, int32_t firstId, bool lock = true)
    {
        std::tie(m_Ctx->m_NumScopeEntries, m_Ctx->m_NumThreadEntries, m_Ctx->m_FirstThreadID,
                 m_Ctx->m_ProfilerAllocator, m_Ctx->m_Scopes) =
            std::tuple(scopes, threadEntries, firstId, m_Allocator.Get(), m_Scopes);
        if (lock)
            InstallLock();
    }

    void InstallLock()
    {
        ThreadMutexInit(&m_Lock);
        std::atomic_ref<ThreadMutex*>(m_Ctx->m_BigLock).store(&m_Lock, std::memory_order_release);
    }

    SProfilerContext* const m_Ctx = GetProfiler();
    SCountingAllocator m_Allocator;
    SProfilerScope m_Scopes[64] = {};
    ThreadMutex m_Lock;
};

// Names end at a guard page: reading past the zero, or past 255 characters, faults.
TEST_F(ProfilerTest, ThreadsGetIdsRecordsAndNames)
{
    Configure(10, 3, INT32_MAX - 1);
    CAssertRecorder recorder;
    SProfilerThread& record = m_Ctx->m_Threads[1];
    record.m_ClientWord0 = record.m_ClientWord1 = record.m_ClientWord2 = record.m_ClientWord3 = 7;
    const std::string exact(255, 'e'), longer(300, 'l');
    CGuardedText exactText(exact), longerText(longer);
    static CGuardedText s_SlotText("from the slot");
    m_Ctx->GetThreadName = [] { return s_SlotText.Get(); };
    std::thread([&] { EXPECT_EQ(m_Ctx->RegisterThread(exactText.Get()), 1u); }).join();
    // Registered through the name slot, once (the count below would show a second record).
    std::thread([&] { EXPECT_EQ(m_Ctx->GetThreadID(), m_Ctx->GetThreadID()); }).join();
    m_Ctx->GetThreadName = []() -> const char* { return nullptr; };
    std::thread([&] { EXPECT_EQ(m_Ctx->GetThreadData(0), &m_Ctx->m_Threads[2]); }).join();
    EXPECT_EQ(m_Ctx->CreateThreadData(longerText.Get()), 0x80000001u); // ids are unsigned
    const std::string names[] = {exact, "from the slot", "Unknown Thread", longer.substr(0, 255)};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(m_Ctx->m_Threads[i].m_Name, names[i]) << i;
    int32_t index = -1;
    EXPECT_EQ(m_Ctx->RegisterScope(&index, exactText.Get(), 1.0f), 0);
    // Zeroed buffers (the allocator fills 0xCD) of 16-byte entries, alignment 8; client
    // words 0 to 2 zeroed, word 3 never written.
    EXPECT_EQ(std::string(static_cast<char*>(record.m_ScopeEntries), 160), std::string(160, 0));
    EXPECT_EQ(std::string(static_cast<char*>(record.m_ThreadEntries), 48), std::string(48, 0));
    EXPECT_EQ(m_Allocator.m_LastAlignment.load(), 8u);
    EXPECT_EQ(record.m_ClientWord0 | record.m_ClientWord1 | record.m_ClientWord2, 0u);
    EXPECT_EQ(record.m_ClientWord3, 7u);

    // Failures leave no record and no block: a failing first buffer (the second is never
    // asked for), a failing second (the first is given back), capacities that cannot be
    // allocated (without a wrapped request), and a thread whose slot cannot hold an id.
    const int allocations = m_Allocator.m_Allocations.load();
    for (int failAt : {0, 1})
    {
        m_Allocator.m_FailCountdown.store(failAt);
        EXPECT_EQ(m_Ctx->CreateThreadData("fails"), kInvalid);
        EXPECT_EQ(m_Allocator.m_Allocations.load() - allocations, failAt);
        EXPECT_EQ(m_Ctx->m_Threads[4].m_ScopeEntries, nullptr);
    }
    EXPECT_EQ(m_Allocator.m_LastSize.load(), 10u * 16u); // the scope buffer came first
    for (auto [scopes, threads] : {std::pair{10, 0x10000000u}, {-1, 3u}})
    {
        std::tie(m_Ctx->m_NumScopeEntries, m_Ctx->m_NumThreadEntries) = std::pair(scopes, threads);
        EXPECT_EQ(m_Ctx->CreateThreadData("sized"), kInvalid);
    }
    std::tie(m_Ctx->m_NumScopeEntries, m_Ctx->m_NumThreadEntries) = std::pair(10, 3u);
    const SThreadSeams saved = g_ThreadSeams;
    g_profiler_this_thread_id_slot = OS_TLS_INVALID;
    g_ThreadSeams.m_TlsAlloc = [] { return OS_TLS_INVALID; };
    std::thread([&] { EXPECT_EQ(m_Ctx->RegisterThread("no slot"), 0u); }).join();
    g_ThreadSeams = saved;
    EXPECT_EQ(std::pair(m_Allocator.Live(), m_Ctx->m_NumThreads), std::pair(8, 4));

    // The allocator and the creation callback run under the lock; a creation that either of
    // them starts on the same thread fails, and the outer one completes.
    s_Backing = &m_Allocator;
    SAllocator lookingUp = {[](SAllocator*, uint32_t size, uint32_t alignment) {
                                s_Seen.push_back(GetProfiler()->GetThreadID());
                                s_LockFreeCalls += OtherThreadTakes(GetProfiler()->m_BigLock);
                                return s_Backing->m_Base.m_Alloc(s_Backing->Get(), size, alignment);
                            },
                            m_Allocator.m_Base.m_Free};
    m_Ctx->m_ProfilerAllocator = &lookingUp;
    m_Ctx->m_OnThreadCreated = [](uint32_t id, const char* name) {
        SProfilerContext* context = GetProfiler();
        s_LockFreeCalls += OtherThreadTakes(GetProfiler()->m_BigLock);
        s_Seen.insert(s_Seen.end(), {id, uint32_t(context->m_NumThreads), name[0] == 'o',
                                     context->CreateThreadData("inner"), context->GetThreadID(),
                                     context->RegisterThread("inner")});
    };
    std::thread([&] { EXPECT_EQ(m_Ctx->RegisterThread("outer"), 1u); }).join();
    // Both lookups of the allocator, then the callback: the new id before the count has it.
    EXPECT_EQ(s_Seen,
              (std::vector{kInvalid, kInvalid, 0x80000002u, 4u, 1u, kInvalid, kInvalid, 0u}));
    EXPECT_EQ(s_LockFreeCalls, 0);
    EXPECT_TRUE(m_Ctx->m_NumThreads == 5 && m_Allocator.Live() == 10);
}

// Expected values computed apart from the code, in exact integers and IEEE doubles;
// optimised 32-bit builds must give the same ticks (x87 excess precision differs).
TEST(ScopeThreshold, MillisecondsBecomeCounterTicks)
{
    const std::tuple<float, uint64_t, uint32_t> cases[] = {
        {2.9f, 10000000, 20000},            // the fraction is dropped first
        {1.0f, 3579545, 3579},              // the remainder is dropped
        {10000.0f, 1000000000, 1410065408}, // 10^10 ticks: the low 32 bits
        {7.5f, 649036123, 4543252},         // a 2.596 GHz time-stamp counter / 4
        {6617.0f, 649036123, 4294672025},   // its last whole millisecond in 32 bits
        {6618.0f, 649036123, 353766},       // and the first past them, wrapped
        {4338.0f, 990000000, 4294620000},   // the fastest scaled counter covers 4.338 s
        {-5.0f, 3579545, 1271292424},       // wraps in the 64-bit product, read unsigned
        {std::numeric_limits<float>::quiet_NaN(), 7, 0}, // NaN is 0 ms, not INT64_MIN
        {1e30f, 1000, 1271310320},                       // INT64_MAX; INT64_MIN would give 0
        {std::numeric_limits<float>::infinity(), 7, 2783138808},
        {-1e30f, 1000, 0},
    };
    for (auto [ms, frequency, ticks] : cases)
        EXPECT_EQ(ProfilerThresholdToTicks(ms, frequency), ticks) << ms;
}

// Distinct arrays stand for separately loaded modules, each with its own name texts.
TEST_F(ProfilerTest, TheScopeAndModuleTablesAndTheReleaseOfNames)
{
    Configure(8, 4, 1, false);
    CAssertRecorder recorder;
    SProfilerStaticScope x[] = {{-1, 1.0f, "X1"}, {-1, 1.0f, "X2"}}, y[] = {{-1, 1.0f, "Y"}},
                         z[] = {{-1, 1.0f, "Z"}};
    for (SProfilerStaticScope* module : {x, y, x, z})
        m_Ctx->RegisterModule(module, module + (module == x ? 2 : 1));
    // Registered twice: two entries; unregistering removes the lowest and moves the last
    // entry into the gap. Before the lock, descriptors are left alone.
    m_Scopes[0] = {x[0].m_Name, 0, 0};
    m_Ctx->m_NumScopes = 1;
    m_Ctx->UnregisterModule(x);
    EXPECT_EQ(m_Scopes[0].m_Name, x[0].m_Name);
    m_Ctx->m_NumScopes = 0;
    const SProfilerModule* table = m_Ctx->m_ProfilerLoadedProfilerModules;
    EXPECT_TRUE(table[0].m_Begin == z && table[1].m_Begin == y && table[2].m_Begin == x);
    m_Ctx->UnregisterModule(x);
    EXPECT_EQ(m_Ctx->m_ProfilerNumLoadedModules, 2);

    InstallLock();
    const char nameA[] = "Render", copyOfA[] = "Render";
    int32_t slots[5] = {-1, -1, -1, -1, -1};
    EXPECT_EQ(m_Ctx->RegisterScope(&slots[0], nameA, 2.9f), 0);
    EXPECT_EQ(m_Ctx->RegisterScope(&slots[1], copyOfA, 5.0f), 0);
    EXPECT_EQ(m_Scopes[0].m_Name, copyOfA); // the newest text wins, the first threshold stays
    EXPECT_EQ(m_Scopes[0].m_ThresholdTicks, uint32_t(GetCounterFrequency() * 2 / 1000));
    // Two different names with one hash share one index: the hash is the identity.
    EXPECT_EQ(m_Ctx->RegisterScope(&slots[2], "s19161", 1.0f), 1);
    EXPECT_EQ(m_Ctx->RegisterScope(&slots[3], "s53632", 1.0f), 1);
    EXPECT_EQ(m_Ctx->RegisterScope(&slots[0], "Anything", 1.0f), 0); // a filled slot answers

    // A new module registers at once, up to a null name.
    SProfilerStaticScope cut[] = {{-1, 1.0f, "X1"}, {-1, 1.0f, nullptr}, {-1, 1.0f, "D"}};
    m_Ctx->RegisterModule(cut, cut + 3);
    EXPECT_TRUE(cut[0].m_Index == 2 && cut[2].m_Index == -1 && z[0].m_Index == -1);

    // Departing modules release their names: re-pointed to the last module in table order
    // that has the name, with its first matching record; cleared when none has.
    const char s[] = "S", p1[] = "S", p2[] = "S", q1[] = "S", q2[] = "S";
    SProfilerStaticScope own[] = {{-1, 2.0f, s}}, p[] = {{-1, 2.0f, p1}, {-1, 2.0f, p2}},
                         q[] = {{-1, 9.0f, "Q only"}, {-1, 9.0f, q1}, {-1, 9.0f, q2}};
    for (auto [module, count] : {std::pair{own, 1}, {p, 2}, {q, 3}})
        m_Ctx->RegisterModule(module, module + count);
    ASSERT_EQ(q[2].m_Index, 3);
    const SProfilerScope before = m_Scopes[3];
    m_Ctx->UnregisterModule(p); // P's texts were not in use: nothing changes
    EXPECT_EQ(m_Scopes[3].m_Name, q2);
    m_Ctx->RegisterModule(p, p + 2); // its slots keep 3: no new name
    // Then Q, P and the first go: at last nobody is left, a null name, same hash and ticks.
    // Q's own scope is cleared with Q.
    for (auto [module, name] :
         {std::pair<SProfilerStaticScope*, const char*>{q, p1}, {p, s}, {own, nullptr}})
    {
        m_Ctx->UnregisterModule(module);
        EXPECT_TRUE(m_Scopes[3].m_Name == name && m_Scopes[4].m_Name == nullptr) << name;
    }
    EXPECT_EQ(std::tie(m_Scopes[3].m_NameHash, m_Scopes[3].m_ThresholdTicks),
              std::tie(before.m_NameHash, before.m_ThresholdTicks));
    EXPECT_EQ(m_Scopes[2].m_Name, cut[0].m_Name); // names of other modules are not touched

    // A owns records 0 and 1, B owns 4 to 7; unregistering A while it is walked moves B's
    // entry into A's place, and the count read anew ends the walk.
    static SProfilerStaticScope records[8];
    std::fill(records, records + 8, SProfilerStaticScope{-1, 1.0f, "named"});
    m_Ctx->RegisterModule(records, records + 2);
    m_Ctx->RegisterModule(records + 4, records + 8);
    static std::vector<SProfilerStaticScope*> visited;
    m_Ctx->ForEachModuleScope(
        [](SProfilerStaticScope* record, uint32_t) {
            if (record >= records && record < records + 8)
                visited.push_back(record);
            if (record == records)
                GetProfiler()->UnregisterModule(records);
            return true;
        },
        0);
    EXPECT_EQ(visited, (std::vector<SProfilerStaticScope*>{records, records + 1}));

    // A full module table, an unknown module and null arguments: reported, nothing changes.
    std::vector<SProfilerStaticScope> more(29, {-1, 1.0f, "more"});
    for (SProfilerStaticScope& module : more)
        m_Ctx->RegisterModule(&module, &module + 1);
    EXPECT_EQ(more[28].m_Index, -1);
    m_Ctx->UnregisterModule(&more[28]);
    EXPECT_EQ(m_Ctx->RegisterScope(nullptr, "N", 1.0f), -1);
    m_Ctx->RegisterModule(nullptr, nullptr);
    m_Ctx->ForEachModuleScope(nullptr, 0);
    for (const char* check : {"m_ProfilerNumLoadedModules < (int)ARRAY_LENGTH( g_ProfilerContext"
                              ".m_ProfilerLoadedProfilerModules ) && \"to many shared modules "
                              "loaded!\"",
                              "\"module not in loaded-list!!!\"", "slot != nullptr",
                              "begin != nullptr", "callback != nullptr"})
        EXPECT_TRUE(recorder.Saw(check)) << check;
    EXPECT_EQ(m_Ctx->m_ProfilerNumLoadedModules, 32);

    // The full scope table warns once, as a warning of the PROFILE channel, and still
    // finds known names (the search comes first).
    EXPECT_EQ(m_Ctx->RegisterScope(&slots[4], "C", 1.0f), 7);
    static std::vector<std::string> s_Warnings;
    LogSetForward([](ELogSeverity severity, const char* channel, const char*, uint32_t,
                     const char* format, va_list args) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        s_Warnings.push_back(std::to_string(severity) + " " + channel + ": " + text);
        return true;
    });
    int32_t full = -1;
    EXPECT_EQ(m_Ctx->RegisterScope(&full, "D", 1.0f), PROFILER_SCOPE_TABLE_FULL);
    EXPECT_EQ(m_Ctx->RegisterScope(&full, "E", 1.0f), PROFILER_SCOPE_TABLE_FULL);
    LogSetForward(nullptr);
    EXPECT_EQ(s_Warnings, std::vector<std::string>{"3 PROFILE: The profiler is out of scope "
                                                   "entries. 8 entries are allocated, given by "
                                                   "SProfilerInitParams()"});
    EXPECT_EQ(full, -1);
    EXPECT_EQ(m_Ctx->RegisterScope(&full, "C", 1.0f), 7);
}

// Stress, bounded: 33 threads register at once while others register overlapping scope
// names from call sites of their own, each with its own copy of the texts, and every thread
// walks both tables without the lock meanwhile. One record per thread, one index per name,
// and every record or descriptor that a walk's count covers is complete.
TEST_F(ProfilerTest, ThreadsAndScopesRegisterAtOnceUnderLockFreeWalks)
{
    Configure(32, 2, 1000);
    constexpr int kThreads = 33, kScopeThreads = 4, kNames = 24;
    std::vector<uint32_t> ids(kThreads, 0);
    std::vector<int32_t> slots(kScopeThreads * kNames);
    std::vector<std::string> texts(slots.size());
    for (size_t i = 0; i < texts.size(); ++i)
        texts[i] = "scope " + std::to_string(i % kNames);
    std::atomic<bool> go{false};
    std::atomic<long> wrong{0};
    // A walk of both tables without the lock, as a report makes it.
    auto walk = [&] {
        for (int32_t i = 0, n = std::atomic_ref<int32_t>(m_Ctx->m_NumScopes).load(); i < n; ++i)
        {
            const char* name = std::atomic_ref<const char*>(m_Scopes[i].m_Name).load();
            wrong += name == nullptr || HashString(name) != m_Scopes[i].m_NameHash;
        }
        for (int32_t i = 0, n = std::atomic_ref<int32_t>(m_Ctx->m_NumThreads).load(); i < n; ++i)
            wrong += !m_Ctx->m_Threads[i].m_ThreadEntries || !m_Ctx->m_Threads[i].m_Name[0];
    };
    RunThreads(kThreads + kScopeThreads, [&](int i) {
        if (i == kThreads + kScopeThreads - 1) // the last one started lets them all go
            go.store(true);
        while (!go.load())
            std::this_thread::yield();
        // Threads register after some walks, while names are still being added.
        for (int round = 0, t = i - kThreads; round < 100 * kNames; ++round)
        {
            walk();
            if (t < 0 && round == kNames &&
                m_Ctx->RegisterThread(("worker " + std::to_string(i)).c_str()))
                ids[i] = m_Ctx->PeekThreadID();
            if (t < 0)
                continue;
            const int k = t * kNames + (round * 7 + t * 5) % kNames;
            slots[k] = -1; // a new call site each time: the newest text wins
            EXPECT_GE(m_Ctx->RegisterScope(&slots[k], texts[k].c_str(), 1.0f), 0);
        }
    });

    std::vector<uint32_t> sorted = ids, expected(kThreads);
    std::sort(sorted.begin(), sorted.end());
    std::iota(expected.begin() + 1, expected.end(), 1000u); // one thread found no record
    EXPECT_EQ(wrong.load(), 0); // incomplete records or descriptors seen
    ASSERT_EQ(sorted, expected);
    EXPECT_EQ(m_Ctx->GetThreadData(1000 + 32), nullptr);
    ASSERT_EQ(m_Ctx->m_NumScopes, kNames);
    for (size_t k = 0; k < slots.size(); ++k)
        EXPECT_EQ(m_Scopes[slots[k]].m_Name, texts[k]); // one index a name, one name an index
}
