// The thread, scope and module registries through the service table, single-threaded:
// ids and records, the index-slot protocol, the threshold conversion, the module walk and
// the release of names, and what happens after a failed check. Portable.
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/debug/log.h"
#include "common/hash/hash.h"
#include "common/thread/synchronization.h"
#include "common/time/counter.h"
#include "guard_page.h"
#include "platform/os.h"
#include "profile/profilercontext_internal.h"
#include "profiler_fixture.h"

TLS_GLOBAL_DECLARE(g_profiler_this_thread_id);

namespace
{

template <typename F> void OnNewThread(F f)
{
    std::thread(f).join();
}

bool Filled(const void* block, size_t size, unsigned char byte)
{
    for (size_t i = 0; i < size; ++i)
        if (static_cast<const unsigned char*>(block)[i] != byte)
            return false;
    return true;
}

// Whether another thread finds the context's lock free: false while this thread holds it.
bool LockFreeElsewhere()
{
    bool free = false;
    OnNewThread([&] {
        ThreadMutex* lock = GetProfiler()->m_BigLock;
        if ((free = ThreadMutexTryLock(lock)))
            ThreadMutexUnlock(lock);
    });
    return free;
}

struct SSeen
{
    uint32_t m_Id;
    std::string m_Name;
    int32_t m_Count;
    bool m_LockFree;
} s_Seen;

} // namespace

TEST_F(ProfilerTest, IdsRecordsAndTheCreationCallback)
{
    SetUpReady(10, 3, 100);
    SProfilerContext* context = Context();
    context->m_Threads[1].m_ClientWord3 = 0x5A5A5A5A;
    for (SProfilerThread& record : context->m_Threads)
        record.m_ClientWord0 = record.m_ClientWord1 = record.m_ClientWord2 = 7;
    context->m_OnThreadCreated = [](uint32_t id, const char* name) {
        s_Seen = {id, name, GetProfiler()->m_NumThreads, LockFreeElsewhere()};
    };
    OnNewThread([&] {
        EXPECT_EQ(context->RegisterThread("first"), 1u);
        EXPECT_EQ(context->PeekThreadID(), 100u);
    });
    OnNewThread([&] {
        EXPECT_EQ(context->PeekThreadID(), 0u);
        EXPECT_EQ(context->RegisterThread("second"), 1u);
        EXPECT_EQ(context->GetThreadID(), 101u);
    });
    EXPECT_EQ(NumThreads(), 2);
    EXPECT_EQ(context->GetThreadData(101), &context->m_Threads[1]);
    // The callback saw the new id and name, under the lock, before the count included it.
    EXPECT_EQ(s_Seen.m_Id, 101u);
    EXPECT_EQ(s_Seen.m_Name, "second");
    EXPECT_EQ(s_Seen.m_Count, 1);
    EXPECT_FALSE(s_Seen.m_LockFree);

    // Zeroed buffers (the allocator fills 0xCD) of 16-byte entries, alignment 8; client
    // words 0 to 2 zeroed, word 3 left as it was.
    const SProfilerThread& record = context->m_Threads[1];
    EXPECT_TRUE(Filled(record.m_ScopeEntries, 10 * 16, 0));
    EXPECT_TRUE(Filled(record.m_ThreadEntries, 3 * 16, 0));
    EXPECT_EQ(m_Allocator.m_LastSize.load(), 3u * 16u);
    EXPECT_EQ(m_Allocator.m_LastAlignment.load(), 8u);
    EXPECT_EQ(record.m_ClientWord0 | record.m_ClientWord1 | record.m_ClientWord2, 0u);
    EXPECT_EQ(record.m_ClientWord3, 0x5A5A5A5Au);
    // Names: a long one is cut to 255 characters, a short one padded with zeros.
    const std::string longName(300, 'n');
    EXPECT_EQ(context->CreateThreadData(longName.c_str()), 102u);
    EXPECT_EQ(std::string(context->m_Threads[2].m_Name), longName.substr(0, 255));
    EXPECT_EQ(context->CreateThreadData("short"), 103u);
    EXPECT_TRUE(Filled(context->m_Threads[3].m_Name + 5, 256 - 5, 0));
}

TEST_F(ProfilerTest, AutomaticRegistrationUsesTheNameSlot)
{
    SetUpReady(4, 2, INT32_MAX);
    SProfilerContext* context = Context();
    OnNewThread([&] {
        EXPECT_EQ(context->GetThreadID(), 0x7FFFFFFFu);
        EXPECT_EQ(context->GetThreadID(), 0x7FFFFFFFu); // no second record
    });
    EXPECT_STREQ(context->m_Threads[0].m_Name,
                 "Unknown Thread (Function temporarily disabled for Win32)");
    context->GetThreadName = [] { return "named by the client"; };
    OnNewThread([&] { EXPECT_EQ(context->GetThreadData(0), &context->m_Threads[1]); });
    EXPECT_STREQ(context->m_Threads[1].m_Name, "named by the client");
    EXPECT_EQ(context->PeekThreadID(), 0u);
    context->GetThreadName = []() -> const char* { return nullptr; };
    OnNewThread([&] { EXPECT_EQ(context->GetThreadID(), 0x80000001u); }); // unsigned ids
    EXPECT_STREQ(context->m_Threads[2].m_Name, "Unknown Thread");
}

// Names whose terminating zero is the last byte before an inaccessible page: reading past
// it (or past 255 characters of a longer name, or a fixed 255 of a short one) faults.
TEST_F(ProfilerTest, NamesEndingAtAGuardPageAreReadNoFurther)
{
    SetUpReady(4);
    SProfilerContext* context = Context();
    const std::string exact(255, 'e'), longer(300, 'l');
    CGuardedText exactText(exact), longerText(longer), slotText("short");
    static const char* s_SlotName;
    s_SlotName = slotText.Get();
    OnNewThread([&] { EXPECT_EQ(context->RegisterThread(exactText.Get()), 1u); });
    EXPECT_EQ(context->CreateThreadData(longerText.Get()), 2u);
    context->GetThreadName = [] { return s_SlotName; };
    OnNewThread([&] { EXPECT_EQ(context->GetThreadID(), 3u); });
    EXPECT_EQ(context->m_Threads[0].m_Name, exact);
    EXPECT_EQ(context->m_Threads[1].m_Name, longer.substr(0, 255));
    EXPECT_STREQ(context->m_Threads[2].m_Name, "short");
    int32_t index = -1;
    EXPECT_EQ(context->RegisterScope(&index, exactText.Get(), 1.0f), 0);
}

TEST_F(ProfilerTest, FailuresLeaveNoRecordAndNoBlockBehind)
{
    Configure(8, 2, 5);
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    // Without the lock nothing registers and the thread's slot is not touched.
    EXPECT_EQ(context->RegisterThread("early"), 0u);
    EXPECT_EQ(context->GetThreadData(0), nullptr);
    EXPECT_EQ(context->PeekThreadID(), 0u);
    EXPECT_TRUE(recorder.Saw("ret == 1"));
    InstallLock();
    // A failing first buffer: the second is never asked for; a failing second: the first
    // is given back.
    for (int failAt : {0, 1})
    {
        const int allocationsBefore = m_Allocator.m_Allocations.load();
        m_Allocator.m_FailCountdown.store(failAt);
        EXPECT_EQ(context->CreateThreadData("fails"), PROFILER_INVALID_THREAD_ID);
        EXPECT_EQ(m_Allocator.m_Allocations.load() - allocationsBefore, failAt);
        EXPECT_EQ(m_Allocator.Live(), 0);
        EXPECT_EQ(context->m_Threads[0].m_ScopeEntries, nullptr);
        if (failAt == 1) // the scope buffer's size
        {
            EXPECT_EQ(m_Allocator.m_LastSize.load(), 8u * 16u);
        }
    }
    // Capacities that cannot be allocated fail without a wrapped request.
    for (auto [scopes, threads] : {std::pair{8, 0x10000000u}, {-1, 2u}})
    {
        context->m_NumScopeEntries = scopes;
        context->m_NumThreadEntries = threads;
        EXPECT_EQ(context->CreateThreadData("too large"), PROFILER_INVALID_THREAD_ID);
    }
    context->m_NumScopeEntries = 8;
    context->m_NumThreadEntries = 2;
    EXPECT_EQ(m_Allocator.Live(), 0);
    EXPECT_EQ(context->CreateThreadData("at last"), 5u); // the same record again
    EXPECT_STREQ(context->m_Threads[0].m_Name, "at last");

    // Registering twice fails its check and replaces the id when execution continues.
    EXPECT_EQ(context->RegisterThread("once"), 1u);
    EXPECT_EQ(context->RegisterThread("twice"), 1u);
    EXPECT_EQ(recorder.Records().back().m_Expression,
              "TLS_GLOBAL_GET_UINTPTR(g_profiler_this_thread_id) < "
              "(uint32)g_ProfilerContext.m_FirstThreadID");
    EXPECT_EQ(context->PeekThreadID(), 7u);

    // The 33rd registration fails; automatic registration then fails its check.
    while (NumThreads() < 32)
        ASSERT_NE(context->CreateThreadData("filler"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(context->CreateThreadData("one too many"), PROFILER_INVALID_THREAD_ID);
    const size_t checks = recorder.Count();
    OnNewThread([&] {
        EXPECT_EQ(context->RegisterThread("late"), 0u);
        EXPECT_EQ(context->GetThreadID(), PROFILER_INVALID_THREAD_ID); // no new attempt
    });
    EXPECT_EQ(recorder.Count(), checks);
    OnNewThread([&] { EXPECT_EQ(context->GetThreadData(0), nullptr); });
    EXPECT_EQ(recorder.Count(), checks + 1);
    EXPECT_EQ(context->GetThreadData(36), &context->m_Threads[31]);
    EXPECT_EQ(context->GetThreadData(37), nullptr);
}

namespace
{
SCountingAllocator* s_Backing = nullptr;
uint32_t s_IdSeenByAllocator = 0;
bool s_LockFreeDuringAlloc = true;
} // namespace

TEST_F(ProfilerTest, ACreationStartedInsideACreationFailsAndTheOuterOneCompletes)
{
    SetUpReady(4, 2, 10);
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    static uint32_t inner[3];
    static int depth;
    depth = 0;
    context->m_OnThreadCreated = [](uint32_t, const char*) {
        if (depth++ > 0)
            return;
        SProfilerContext* c = GetProfiler();
        inner[0] = c->CreateThreadData("inner");
        inner[1] = c->GetThreadID();
        inner[2] = c->RegisterThread("inner");
    };
    OnNewThread([&] { EXPECT_EQ(context->RegisterThread("outer"), 1u); });
    EXPECT_EQ(inner[0], PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(inner[1], PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(inner[2], 0u);
    EXPECT_EQ(NumThreads(), 1);
    EXPECT_EQ(m_Allocator.Live(), 2);

    // An allocator that looks its thread up finds it failed, and runs under the lock.
    context->m_OnThreadCreated = nullptr;
    s_Backing = &m_Allocator;
    SAllocator lookingUp = {[](SAllocator*, uint32_t size, uint32_t alignment) {
                                s_IdSeenByAllocator = GetProfiler()->GetThreadID();
                                s_LockFreeDuringAlloc = LockFreeElsewhere();
                                return s_Backing->m_Base.m_Alloc(s_Backing->Get(), size, alignment);
                            },
                            m_Allocator.m_Base.m_Free};
    context->m_ProfilerAllocator = &lookingUp;
    OnNewThread([&] { EXPECT_EQ(context->GetThreadID(), 11u); });
    EXPECT_EQ(s_IdSeenByAllocator, PROFILER_INVALID_THREAD_ID);
    EXPECT_FALSE(s_LockFreeDuringAlloc);
    EXPECT_EQ(m_Allocator.Live(), 4);
}

TEST_F(ProfilerTest, AThreadWhoseSlotCannotHoldAnIdUsesUpNoRecord)
{
    SetUpReady();
    CAssertRecorder recorder;
    const SThreadSeams saved = g_ThreadSeams;
    g_profiler_this_thread_id_slot = OS_TLS_INVALID;
    g_ThreadSeams.m_TlsAlloc = [] { return OS_TLS_INVALID; };
    EXPECT_EQ(Context()->RegisterThread("no slot"), 0u);
    EXPECT_EQ(Context()->GetThreadID(), 0u);
    EXPECT_EQ(Context()->GetThreadID(), 0u);
    EXPECT_EQ(NumThreads(), 0);
    g_ThreadSeams = saved;
    EXPECT_EQ(Context()->GetThreadID(), 1u);
}

// Expected values computed apart from the code, in exact integers and IEEE doubles;
// optimised 32-bit builds must give the same ticks (x87 excess precision differs).
TEST(ScopeThreshold, MillisecondsBecomeCounterTicks)
{
    const float inf = std::numeric_limits<float>::infinity();
    const struct
    {
        float m_Ms;
        uint64_t m_Frequency;
        uint32_t m_Ticks;
    } cases[] = {
        {2.9f, 10000000, 20000},            // the fraction is dropped first
        {1.0f, 3579545, 3579},              // the remainder is dropped
        {0.999f, 3579545, 0},               // below 1 ms: every call reaches it
        {10000.0f, 1000000000, 1410065408}, // 10^10 ticks: the low 32 bits
        {-1.0f, 1000, 1271310320},          // wraps in the 64-bit product, read unsigned
        {-5.0f, 3579545, 1271292424},
        {std::numeric_limits<float>::quiet_NaN(), 7, 0}, // NaN is 0 ms, not INT64_MIN
        {1e30f, 1000, 1271310320},                       // INT64_MAX; INT64_MIN would give 0
        {inf, 7, 2783138808},
        {-1e30f, 1000, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProfilerThresholdToTicks(c.m_Ms, c.m_Frequency), c.m_Ticks) << c.m_Ms;
}

namespace
{
struct SWarning
{
    ELogSeverity m_Severity;
    std::string m_Channel, m_Text;
};
std::vector<SWarning> s_Warnings;
} // namespace

TEST_F(ProfilerTest, ScopeSlotsHashIdentityAndTheFullTable)
{
    Configure(3);
    SProfilerContext* context = Context();
    int32_t early = -1, cached = 3;
    EXPECT_EQ(context->RegisterScope(&early, "Early", 1.0f), PROFILER_SCOPE_NOT_READY);
    EXPECT_EQ(context->RegisterScope(&cached, "Early", 1.0f), PROFILER_SCOPE_NOT_READY);
    EXPECT_EQ(early, -1);
    InstallLock();

    const char nameA[] = "Render", copyOfA[] = "Render";
    int32_t slots[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(context->RegisterScope(&slots[0], nameA, 2.9f), 0);
    EXPECT_EQ(slots[0], 0);
    EXPECT_EQ(m_Scopes[0].m_Name, nameA);
    EXPECT_EQ(m_Scopes[0].m_NameHash, HashString("Render"));
    const uint32_t ticks = uint32_t(GetCounterFrequency() * 2 / 1000); // 2.9 ms counts as 2
    EXPECT_EQ(m_Scopes[0].m_ThresholdTicks, ticks);
    EXPECT_EQ(context->RegisterScope(&slots[1], copyOfA, 5.0f), 0);
    EXPECT_EQ(m_Scopes[0].m_Name, copyOfA); // the newest text wins, the threshold stays
    EXPECT_EQ(m_Scopes[0].m_ThresholdTicks, ticks);
    // Two different names with one hash share one index: the hash is the identity.
    EXPECT_EQ(context->RegisterScope(&slots[2], "s19161", 1.0f), 1);
    EXPECT_EQ(context->RegisterScope(&slots[3], "s53632", 1.0f), 1);
    EXPECT_STREQ(m_Scopes[1].m_Name, "s53632");
    // A slot that holds an index answers at once, whatever the name.
    EXPECT_EQ(context->RegisterScope(&cached, "Anything", 1.0f), 3);

    // The full table warns once, as a warning of the PROFILE channel, and still finds
    // known names (the search comes first).
    EXPECT_EQ(context->RegisterScope(&slots[4], "C", 1.0f), 2);
    s_Warnings.clear();
    LogSetForward([](ELogSeverity severity, const char* channel, const char*, uint32_t,
                     const char* format, va_list args) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        s_Warnings.push_back({severity, channel, text});
        return true;
    });
    EXPECT_EQ(context->RegisterScope(&slots[5], "D", 1.0f), PROFILER_SCOPE_TABLE_FULL);
    EXPECT_EQ(context->RegisterScope(&slots[5], "E", 1.0f), PROFILER_SCOPE_TABLE_FULL);
    LogSetForward(nullptr);
    ASSERT_EQ(s_Warnings.size(), 1u);
    EXPECT_EQ(s_Warnings[0].m_Severity, E_LOG_WARNING);
    EXPECT_EQ(s_Warnings[0].m_Channel, "PROFILE");
    EXPECT_EQ(s_Warnings[0].m_Text, "The profiler is out of scope entries. 3 entries are "
                                    "allocated, given by SProfilerInitParams()");
    EXPECT_EQ(slots[5], -1);
    EXPECT_EQ(context->m_Flags, PROFILER_FLAG_OUT_OF_SCOPES_WARNED);
    int32_t again = -1;
    EXPECT_EQ(context->RegisterScope(&again, "C", 1.0f), 2);
    EXPECT_EQ(context->m_NumScopes, 3);
}

namespace
{
// Distinct arrays stand for separately loaded modules, each with its own name texts.
struct SModule
{
    SProfilerStaticScope m_Records[4];
    SProfilerStaticScope* Begin() { return m_Records; }
    SProfilerStaticScope* End(int count = 4) { return m_Records + count; }
};
} // namespace

TEST_F(ProfilerTest, ModulesBeforeTheLockTheWalkAndTheTable)
{
    Configure();
    SProfilerContext* context = Context();
    SModule x = {{{-1, 1.0f, "X1"}, {-1, 1.0f, "X2"}}}, y = {{{-1, 1.0f, "Y"}}},
            z = {{{-1, 1.0f, "Z"}}}, empty = {{{-1, 1.0f, nullptr}}};
    for (SModule* module : {&x, &y, &x, &z})
        context->RegisterModule(module->Begin(), module->End(module == &x ? 2 : 1));
    EXPECT_EQ(x.m_Records[0].m_Index, -1); // recorded only
    // Registered twice: two entries; unregistering removes the lowest and moves the last
    // entry into the gap (X, Y, X, Z becomes Z, Y, X). Descriptors are left alone.
    m_Scopes[0] = {x.m_Records[0].m_Name, 0, 0};
    context->m_NumScopes = 1;
    context->UnregisterModule(x.Begin());
    EXPECT_EQ(m_Scopes[0].m_Name, x.m_Records[0].m_Name);
    context->m_NumScopes = 0;
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 3);
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[0].m_Begin, z.Begin());
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[2].m_Begin, x.Begin());
    context->UnregisterModule(x.Begin());
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[0].m_Begin, z.Begin());

    // A callback that returns false runs once per module whose first record has a name.
    context->RegisterModule(empty.Begin(), empty.End());
    context->RegisterModule(x.Begin(), x.Begin());
    static int calls;
    calls = 0;
    context->ForEachModuleScope([](SProfilerStaticScope*, uint32_t) { return ++calls < 0; }, 0);
    EXPECT_EQ(calls, 2);

    // Once the lock is in, a new module registers at once, up to a null name, and a walk
    // registers the modules recorded before.
    InstallLock();
    SModule cut = {{{-1, 1.0f, "X1"}, {-1, 1.0f, nullptr}, {-1, 1.0f, "D"}}};
    context->RegisterModule(cut.Begin(), cut.End(3));
    EXPECT_EQ(cut.m_Records[0].m_Index, 0);
    EXPECT_EQ(cut.m_Records[2].m_Index, -1);
    context->ForEachModuleScope(
        [](SProfilerStaticScope* record, uint32_t userValue) {
            EXPECT_EQ(userValue, 77u);
            GetProfiler()->RegisterScope(&record->m_Index, record->m_Name, record->m_ThresholdMs);
            return true;
        },
        77);
    EXPECT_EQ(z.m_Records[0].m_Index, 1);
    EXPECT_EQ(y.m_Records[0].m_Index, 2);
    EXPECT_EQ(context->m_NumScopes, 3);
}

TEST_F(ProfilerTest, DepartingModulesReleaseTheirNames)
{
    SetUpReady();
    SProfilerContext* context = Context();
    int32_t other = -1;
    context->RegisterScope(&other, "Other", 1.0f);
    const char s[] = "S", p1[] = "S", p2[] = "S", q1[] = "S", q2[] = "S";
    SModule own = {{{-1, 2.0f, s}}}, p = {{{-1, 2.0f, p1}, {-1, 2.0f, p2}}},
            q = {{{-1, 9.0f, "Q only"}, {-1, 9.0f, q1}, {-1, 9.0f, q2}}};
    context->RegisterModule(own.Begin(), own.End(1));
    context->RegisterModule(p.Begin(), p.End(2));
    context->RegisterModule(q.Begin(), q.End(3));
    ASSERT_EQ(q.m_Records[2].m_Index, 1);
    EXPECT_EQ(m_Scopes[1].m_Name, q2);
    const SProfilerScope before = m_Scopes[1];

    context->UnregisterModule(p.Begin()); // P's texts were not in use: nothing changes
    EXPECT_EQ(m_Scopes[1].m_Name, q2);
    context->RegisterModule(p.Begin(), p.End(2)); // its slots keep 1: no new name
    // Re-pointed: the last module in table order wins with its first matching record.
    context->UnregisterModule(q.Begin());
    EXPECT_EQ(m_Scopes[1].m_Name, p1);
    EXPECT_EQ(m_Scopes[2].m_Name, nullptr); // Q's own scope cleared
    context->UnregisterModule(p.Begin());
    EXPECT_EQ(m_Scopes[1].m_Name, s);
    context->UnregisterModule(own.Begin()); // nobody left: null name, same hash and ticks
    EXPECT_EQ(m_Scopes[1].m_Name, nullptr);
    EXPECT_EQ(m_Scopes[1].m_NameHash, before.m_NameHash);
    EXPECT_EQ(m_Scopes[1].m_ThresholdTicks, before.m_ThresholdTicks);
    EXPECT_STREQ(m_Scopes[0].m_Name, "Other"); // names of other modules are not touched
    int32_t slot = -1;
    EXPECT_EQ(context->RegisterScope(&slot, s, 1.0f), 1); // named anew
    EXPECT_EQ(m_Scopes[1].m_Name, s);
}

TEST_F(ProfilerTest, AWalkSurvivesItsCallbackUnregisteringTheModule)
{
    Configure();
    // A owns records 0 and 1, B owns 4 to 7; unregistering A while it is walked moves B's
    // entry into A's place, and the count read anew ends the walk.
    static SProfilerStaticScope records[8];
    for (SProfilerStaticScope& record : records)
        record = {-1, 1.0f, "named"};
    Context()->RegisterModule(records, records + 2);
    Context()->RegisterModule(records + 4, records + 8);
    static std::vector<SProfilerStaticScope*> visited;
    visited.clear();
    Context()->ForEachModuleScope(
        [](SProfilerStaticScope* record, uint32_t) {
            visited.push_back(record);
            if (record == records)
                GetProfiler()->UnregisterModule(records);
            return true;
        },
        0);
    EXPECT_EQ(visited, (std::vector<SProfilerStaticScope*>{records, records + 1}));
}

TEST_F(ProfilerTest, MisuseOfTheModuleTableIsReportedAndChangesNothing)
{
    SetUpReady();
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    SModule modules[33];
    for (SModule& module : modules)
        module = {{{-1, 1.0f, "shared"}}};
    for (SModule& module : modules)
        context->RegisterModule(module.Begin(), module.End(1));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression,
              "g_ProfilerContext.m_ProfilerNumLoadedModules < "
              "(int)ARRAY_LENGTH( g_ProfilerContext.m_ProfilerLoadedProfilerModules ) && \"to "
              "many shared modules loaded!\"");
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 32);
    EXPECT_EQ(modules[32].m_Records[0].m_Index, -1);
    const char* name = m_Scopes[0].m_Name;
    context->UnregisterModule(modules[32].Begin());
    EXPECT_TRUE(recorder.Saw("\"module not in loaded-list!!!\""));
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 32);
    EXPECT_EQ(m_Scopes[0].m_Name, name);
    // Null arguments: reported, nothing changes.
    EXPECT_EQ(context->RegisterScope(nullptr, "N", 1.0f), -1);
    context->RegisterModule(nullptr, nullptr);
    context->ForEachModuleScope(nullptr, 0);
    for (const char* check : {"slot != nullptr", "begin != nullptr", "callback != nullptr"})
        EXPECT_TRUE(recorder.Saw(check)) << check;
    EXPECT_EQ(context->m_NumScopes, 1);
}
