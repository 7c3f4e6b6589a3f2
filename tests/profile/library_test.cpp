// The real shared library as client modules see it: its state straight after load, and a
// second, separately built module that shares the context and releases its names when it
// is unloaded.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "common/hash/hash.h"
#include "common/thread/mutex.h"
#include "platform/os.h"
#include "profile/profilercontext.h"

TEST(Library, ASecondModuleSharesTheContextAndReleasesItsNamesWhenUnloaded)
{
    SProfilerContext* context = GetProfiler();
    EXPECT_EQ(context->m_Constructed, 1u);
    int32_t slot = -1;
    EXPECT_EQ(context->RegisterScope(&slot, "Early", 1.0f), PROFILER_SCOPE_NOT_READY);
    EXPECT_EQ(context->RegisterThread("early"), 0u);
    EXPECT_EQ(context->CreateThreadData("early"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(context->PeekThreadID(), 0u);
    EXPECT_EQ(context->m_NumThreads, 0);
    EXPECT_EQ(context->m_NumScopes, 0);
    EXPECT_STREQ(context->GetThreadName(),
                 "Unknown Thread (Function temporarily disabled for Win32)");

    std::vector<SProfilerScope> scopes(16);
    context->m_ProfilerAllocator = GetDefaultAllocator();
    context->m_NumScopeEntries = 16;
    context->m_NumThreadEntries = 1;
    context->m_FirstThreadID = 1;
    context->m_Scopes = scopes.data();
    std::atomic_ref<ThreadMutex*>(context->m_BigLock).store(ThreadMutexCreate());
    static const char kShared[] = "SharedScope"; // this executable's own records
    SProfilerStaticScope mine[] = {{-1, 1.0f, "ExecutableScope"}, {-1, 2.0f, kShared}};
    context->RegisterModule(mine, mine + 2);
    void* module = OsModuleLoad(PC_SCOPE_MODULE_PATH);
    ASSERT_NE(module, nullptr) << PC_SCOPE_MODULE_PATH;
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 2);
    const SProfilerModule loaded = context->m_ProfilerLoadedProfilerModules[1];
    ASSERT_EQ(loaded.m_End - loaded.m_Begin, 2);
    EXPECT_EQ(loaded.m_Begin[0].m_Index, 2); // the module's own scope: a new index
    EXPECT_EQ(loaded.m_Begin[1].m_Index, 1); // the shared name: this executable's index
    EXPECT_STREQ(scopes[2].m_Name, "ModuleOnlyScope");
    EXPECT_EQ(scopes[1].m_Name, loaded.m_Begin[1].m_Name); // the newest text: the module's
    EXPECT_NE(scopes[1].m_Name, kShared);

    OsModuleUnload(module);
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 1);
    EXPECT_EQ(scopes[1].m_Name, kShared); // re-pointed to this executable's text
    EXPECT_EQ(scopes[2].m_Name, nullptr); // no module left that uses it
    EXPECT_EQ(scopes[2].m_NameHash, HashString("ModuleOnlyScope"));
    EXPECT_EQ(context->m_NumScopes, 3);
    context->UnregisterModule(mine);
}
