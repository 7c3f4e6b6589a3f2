// The shared module registry: registration of a module's scopes, the walk, and the
// release of names that point into a departing module.
#include <vector>

#include "profiler_fixture.h"

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

TEST_F(ProfilerTest, ModuleRecordsRegisterByNameAndStopAtANullName)
{
    SetUpReady();
    SProfilerContext* context = Context();
    const char a1[] = "A", a2[] = "A";
    SModule module = {{{-1, 1.0f, a1}, {-1, 2.0f, "B"}, {-1, 3.0f, a2}, {-1, 4.0f, nullptr}}};
    context->RegisterModule(module.Begin(), module.End());
    EXPECT_EQ(module.m_Records[0].m_Index, 0);
    EXPECT_EQ(module.m_Records[1].m_Index, 1);
    EXPECT_EQ(module.m_Records[2].m_Index, 0);
    EXPECT_EQ(module.m_Records[3].m_Index, -1);
    EXPECT_EQ(m_Scopes[0].m_Name, a2); // the third record's text

    SModule cut = {{{-1, 1.0f, "C"}, {-1, 1.0f, nullptr}, {-1, 1.0f, "D"}, {-1, 1.0f, "D"}}};
    context->RegisterModule(cut.Begin(), cut.End());
    EXPECT_EQ(cut.m_Records[0].m_Index, 2);
    EXPECT_EQ(cut.m_Records[2].m_Index, -1); // behind the null name: never visited
    EXPECT_EQ(context->m_NumScopes, 3);
}

TEST_F(ProfilerTest, ModulesRecordedBeforeTheLockAndTheWalk)
{
    Configure();
    SProfilerContext* context = Context();
    SModule x = {{{-1, 1.0f, "X1"}, {-1, 1.0f, "X2"}}}, y = {{{-1, 1.0f, "Y"}}},
            z = {{{-1, 1.0f, "Z"}}}, empty = {{{-1, 1.0f, nullptr}}};
    context->RegisterModule(x.Begin(), x.End(2));
    context->RegisterModule(y.Begin(), y.End(1));
    context->RegisterModule(z.Begin(), z.End(1));
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[0].m_End, x.End(2));
    EXPECT_EQ(x.m_Records[0].m_Index, -1); // recorded only

    // Unregistering moves the last entry into the gap: X, Y, Z becomes Z, Y.
    context->UnregisterModule(x.Begin());
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 2);
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[0].m_Begin, z.Begin());
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[1].m_Begin, y.Begin());

    // A callback that always returns false runs once per module whose first record has a
    // name: not for an empty array nor an empty range.
    context->RegisterModule(empty.Begin(), empty.End());
    context->RegisterModule(x.Begin(), x.Begin());
    static int calls;
    calls = 0;
    context->ForEachModuleScope([](SProfilerStaticScope*, uint32_t) { return ++calls < 0; }, 0);
    EXPECT_EQ(calls, 2);

    // Once the lock is in, a new module registers at once and a walk that registers each
    // record registers the modules recorded before.
    InstallLock();
    context->RegisterModule(x.Begin(), x.End(2));
    EXPECT_EQ(x.m_Records[1].m_Index, 1);
    context->ForEachModuleScope(
        [](SProfilerStaticScope* record, uint32_t userValue) {
            EXPECT_EQ(userValue, 77u);
            GetProfiler()->RegisterScope(&record->m_Index, record->m_Name, record->m_ThresholdMs);
            return true;
        },
        77);
    EXPECT_EQ(z.m_Records[0].m_Index, 2);
    EXPECT_EQ(y.m_Records[0].m_Index, 3);
    EXPECT_EQ(context->m_NumScopes, 4);
}

TEST_F(ProfilerTest, DepartingModulesReleaseTheirNames)
{
    SetUpReady();
    SProfilerContext* context = Context();
    int32_t slots[3] = {-1, -1, -1};
    for (int32_t& slot : slots)
        context->RegisterScope(&slot, &"S0\0S1\0S2"[3 * (&slot - slots)], 1.0f);

    const char textP[] = "S", textQ[] = "S";
    SModule p = {{{-1, 2.0f, textP}}}, q = {{{-1, 9.0f, "Q only"}, {-1, 9.0f, textQ}}};
    context->RegisterModule(p.Begin(), p.End(1));
    context->RegisterModule(q.Begin(), q.End(2));
    ASSERT_EQ(p.m_Records[0].m_Index, 3);
    ASSERT_EQ(q.m_Records[1].m_Index, 3);
    EXPECT_EQ(m_Scopes[3].m_Name, textQ);
    const SProfilerScope before = m_Scopes[3];

    context->UnregisterModule(p.Begin()); // P's text was not in use: nothing changes
    EXPECT_EQ(m_Scopes[3].m_Name, textQ);
    context->RegisterModule(p.Begin(), p.End(1)); // its slot keeps 3: no new name
    EXPECT_EQ(m_Scopes[3].m_Name, textQ);
    context->UnregisterModule(q.Begin()); // re-pointed to P's text; Q's own scope cleared
    EXPECT_EQ(m_Scopes[3].m_Name, textP);
    EXPECT_EQ(m_Scopes[4].m_Name, nullptr);
    context->UnregisterModule(p.Begin()); // nobody left: null name, same hash and threshold
    EXPECT_EQ(m_Scopes[3].m_Name, nullptr);
    EXPECT_EQ(m_Scopes[3].m_NameHash, before.m_NameHash);
    EXPECT_EQ(m_Scopes[3].m_ThresholdTicks, before.m_ThresholdTicks);
    EXPECT_EQ(context->m_NumScopes, 5);
    EXPECT_STREQ(m_Scopes[0].m_Name, "S0"); // names in other modules are not touched

    // A later registration of the name finds the descriptor and names it anew.
    int32_t slot = -1;
    const char textR[] = "S";
    EXPECT_EQ(context->RegisterScope(&slot, textR, 1.0f), 3);
    EXPECT_EQ(m_Scopes[3].m_Name, textR);
}

TEST_F(ProfilerTest, ModuleTableLimitsChangeNothingWhenExecutionContinues)
{
    SetUpReady();
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    SModule modules[33];
    for (SModule& module : modules)
        module = {{{-1, 1.0f, "shared"}}};
    for (int i = 0; i < 32; ++i)
        context->RegisterModule(modules[i].Begin(), modules[i].End(1));
    EXPECT_EQ(recorder.Count(), 0u);

    context->RegisterModule(modules[32].Begin(), modules[32].End(1));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression,
              "g_ProfilerContext.m_ProfilerNumLoadedModules < "
              "(int)ARRAY_LENGTH( g_ProfilerContext.m_ProfilerLoadedProfilerModules ) && \"to "
              "many shared modules loaded!\"");
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 32); // nothing written past the table
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[31].m_Begin, modules[31].Begin());
    EXPECT_EQ(modules[32].m_Records[0].m_Index, -1);

    // An unknown module: reported; no entry, count or name changes.
    const char* name = m_Scopes[0].m_Name;
    context->UnregisterModule(modules[32].Begin());
    EXPECT_TRUE(recorder.Saw("\"module not in loaded-list!!!\""));
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 32);
    EXPECT_EQ(m_Scopes[0].m_Name, name);
}

TEST_F(ProfilerTest, AWalkSurvivesItsCallbackUnregisteringTheModule)
{
    Configure();
    SProfilerContext* context = Context();
    // A owns records 0 and 1, B owns 4 to 7; records 2 and 3 belong to no module.
    static SProfilerStaticScope records[8];
    for (SProfilerStaticScope& record : records)
        record = {-1, 1.0f, "named"};
    context->RegisterModule(records, records + 2);
    context->RegisterModule(records + 4, records + 8);
    static std::vector<SProfilerStaticScope*> visited;
    visited.clear();
    // Unregistering A moves B's entry into A's place while A is being walked.
    context->ForEachModuleScope(
        [](SProfilerStaticScope* record, uint32_t) {
            visited.push_back(record);
            if (record == records)
                GetProfiler()->UnregisterModule(records);
            return true;
        },
        0);
    EXPECT_EQ(visited, (std::vector<SProfilerStaticScope*>{records, records + 1}));
}

TEST_F(ProfilerTest, NullArgumentsAreReportedAndChangeNothing)
{
    SetUpReady();
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    SModule module = {{{-1, 1.0f, "M"}}};
    context->RegisterModule(module.Begin(), module.End(1));
    const struct
    {
        const char* m_What;
        void (*m_Call)();
        const char* m_Check;
    } cases[] = {
        {"RegisterScope without a slot",
         [] { EXPECT_EQ(GetProfiler()->RegisterScope(nullptr, "N", 1.0f), -1); },
         "slot != nullptr"},
        {"RegisterModule without records", [] { GetProfiler()->RegisterModule(nullptr, nullptr); },
         "begin != nullptr"},
        {"ForEachModuleScope without a callback",
         [] { GetProfiler()->ForEachModuleScope(nullptr, 0); }, "callback != nullptr"},
    };
    for (const auto& c : cases)
    {
        const size_t before = recorder.Count();
        c.m_Call();
        EXPECT_EQ(recorder.Count(), before + 1) << c.m_What;
        EXPECT_TRUE(recorder.Saw(c.m_Check)) << c.m_What;
    }
    EXPECT_EQ(context->m_NumScopes, 1);
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 1);
}
