// The shared module registry: registration of a module's scopes, the walk, and the
// release of names that point into a departing module.
#include <cstring>

#include "common/hash/hash.h"
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

int s_Calls = 0;
bool CountAndStop(SProfilerStaticScope*, uint32_t)
{
    ++s_Calls;
    return false;
}

bool RegisterEach(SProfilerStaticScope* record, uint32_t)
{
    GetProfiler()->RegisterScope(&record->m_Index, record->m_Name, record->m_ThresholdMs);
    return true;
}

} // namespace

TEST_F(ProfilerTest, ModuleRecordsRegisterByNameAndStopAtANullName)
{
    SetUpReady();
    SProfilerContext* context = Context();
    const char a1[] = "A", b[] = "B", a2[] = "A";
    SModule module = {{{-1, 1.0f, a1}, {-1, 2.0f, b}, {-1, 3.0f, a2}, {-1, 4.0f, nullptr}}};
    context->RegisterModule(module.Begin(), module.End());
    EXPECT_EQ(module.m_Records[0].m_Index, 0);
    EXPECT_EQ(module.m_Records[1].m_Index, 1);
    EXPECT_EQ(module.m_Records[2].m_Index, 0);
    EXPECT_EQ(module.m_Records[3].m_Index, -1);
    EXPECT_EQ(context->m_NumScopes, 2);
    EXPECT_EQ(m_Scopes[0].m_Name, a2); // the third record's text

    const char c[] = "C", d[] = "D";
    SModule cut = {{{-1, 1.0f, c}, {-1, 1.0f, nullptr}, {-1, 1.0f, d}, {-1, 1.0f, d}}};
    context->RegisterModule(cut.Begin(), cut.End());
    EXPECT_EQ(cut.m_Records[0].m_Index, 2);
    EXPECT_EQ(cut.m_Records[2].m_Index, -1); // behind the null name: never visited
    EXPECT_EQ(context->m_NumScopes, 3);
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 2);
}

TEST_F(ProfilerTest, ModulesRecordedBeforeTheLockRegisterByAWalk)
{
    Configure();
    SProfilerContext* context = Context();
    SModule early = {{{-1, 1.0f, "E1"}, {-1, 1.0f, "E2"}, {-1, 1.0f, "E3"}, {-1, 1.0f, "E4"}}};
    context->RegisterModule(early.Begin(), early.End());
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 1);
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[0].m_Begin, early.Begin());
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[0].m_End, early.End());
    for (const SProfilerStaticScope& record : early.m_Records)
        EXPECT_EQ(record.m_Index, -1);

    InstallLock();
    context->ForEachModuleScope(&RegisterEach, 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(early.m_Records[i].m_Index, i);
    EXPECT_EQ(context->m_NumScopes, 4);
}

TEST_F(ProfilerTest, UnregisteringMovesTheLastEntryIntoTheGap)
{
    Configure(); // no lock: the table changes, the scopes are left alone
    SProfilerContext* context = Context();
    SModule x = {{{-1, 1.0f, "X"}}}, y = {{{-1, 1.0f, "Y"}}}, z = {{{-1, 1.0f, "Z"}}};
    context->RegisterModule(x.Begin(), x.End(1));
    context->RegisterModule(y.Begin(), y.End(1));
    context->RegisterModule(z.Begin(), z.End(1));
    context->UnregisterModule(x.Begin());
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 2);
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[0].m_Begin, z.Begin());
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[1].m_Begin, y.Begin());

    // A callback that always returns false runs once per module whose first record has
    // a name, and not for an empty array.
    SModule empty = {{{-1, 1.0f, nullptr}}};
    context->RegisterModule(empty.Begin(), empty.End());
    context->RegisterModule(x.Begin(), x.Begin());
    s_Calls = 0;
    context->ForEachModuleScope(&CountAndStop, 0);
    EXPECT_EQ(s_Calls, 2);
}

TEST_F(ProfilerTest, DepartingModulesReleaseTheirNames)
{
    SetUpReady();
    SProfilerContext* context = Context();
    int32_t slots[3] = {-1, -1, -1};
    context->RegisterScope(&slots[0], "S0", 1.0f);
    context->RegisterScope(&slots[1], "S1", 1.0f);
    context->RegisterScope(&slots[2], "S2", 1.0f);

    const char textP[] = "S", textQ[] = "S";
    SModule p = {{{-1, 2.0f, textP}}}, q = {{{-1, 9.0f, "Q only"}, {-1, 9.0f, textQ}}};
    context->RegisterModule(p.Begin(), p.End(1));
    ASSERT_EQ(p.m_Records[0].m_Index, 3);
    context->RegisterModule(q.Begin(), q.End(2));
    ASSERT_EQ(q.m_Records[1].m_Index, 3);
    EXPECT_EQ(m_Scopes[3].m_Name, textQ);
    const uint32_t hash = m_Scopes[3].m_NameHash, ticks = m_Scopes[3].m_ThresholdTicks;

    // P leaves: descriptor 3 names Q's text and is left alone.
    context->UnregisterModule(p.Begin());
    EXPECT_EQ(m_Scopes[3].m_Name, textQ);
    // P comes back and registers S again (its slot keeps 3): nothing changes, then Q
    // leaves: descriptor 3 is re-pointed to P's text; Q's own scope is cleared.
    context->RegisterModule(p.Begin(), p.End(1));
    EXPECT_EQ(m_Scopes[3].m_Name, textQ);
    context->UnregisterModule(q.Begin());
    EXPECT_EQ(m_Scopes[3].m_Name, textP);
    EXPECT_EQ(m_Scopes[4].m_Name, nullptr);
    // Both gone: a null name, the same hash and threshold, and no descriptor removed.
    context->UnregisterModule(p.Begin());
    EXPECT_EQ(m_Scopes[3].m_Name, nullptr);
    EXPECT_EQ(m_Scopes[3].m_NameHash, hash);
    EXPECT_EQ(m_Scopes[3].m_ThresholdTicks, ticks);
    EXPECT_EQ(context->m_NumScopes, 5);
    EXPECT_STREQ(m_Scopes[0].m_Name, "S0"); // names in other modules are not touched

    // A later registration of the name finds the descriptor again and names it anew.
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
    for (int i = 0; i < 33; ++i)
        modules[i] = {{{-1, 1.0f, "shared"}}};
    for (int i = 0; i < 32; ++i)
        context->RegisterModule(modules[i].Begin(), modules[i].End(1));
    EXPECT_EQ(recorder.Count(), 0u);
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 32);

    context->RegisterModule(modules[32].Begin(), modules[32].End(1));
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression,
              "g_ProfilerContext.m_ProfilerNumLoadedModules < "
              "(int)ARRAY_LENGTH( g_ProfilerContext.m_ProfilerLoadedProfilerModules ) && \"to "
              "many shared modules loaded!\"");
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 32);
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[31].m_Begin, modules[31].Begin());
    EXPECT_EQ(modules[32].m_Records[0].m_Index, -1);

    // An unknown module: reported, and no entry, count or name changes.
    const char* name = m_Scopes[0].m_Name;
    context->UnregisterModule(modules[32].Begin());
    EXPECT_TRUE(recorder.Saw("\"module not in loaded-list!!!\""));
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 32);
    EXPECT_EQ(m_Scopes[0].m_Name, name);
}
