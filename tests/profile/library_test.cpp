// The real shared library as client modules see it: one record at one address, the
// documented layout, its state straight after load, and a second module that shares it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "common/hash/hash.h"
#include "common/thread/mutex.h"
#include "platform/os.h"
#include "profile/profilercontext.h"

namespace
{

template <typename T> T ReadAt(const void* base, size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const char*>(base) + offset, sizeof(T));
    return value;
}

// Offsets of the 32-bit layout, widened by the pointer-sized fields before them for the
// 64-bit one.
size_t Offset(size_t offset32, size_t offset64)
{
    return sizeof(void*) == 4 ? offset32 : offset64;
}

} // namespace

TEST(Library, OneRecordReadThroughRawOffsetsFromEveryThread)
{
    SProfilerContext* const context = GetProfiler();
    std::vector<SProfilerContext*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = GetProfiler(); });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), context), 8);

    // The state straight after load, read where a separately built client reads it.
    const void* raw = context;
    EXPECT_EQ(sizeof(SProfilerContext), Offset(140396, 140968));
    EXPECT_EQ(ReadAt<uint32_t>(raw, Offset(24, 28)), 1u);           // m_Constructed
    EXPECT_EQ(ReadAt<int32_t>(raw, Offset(140392, 140960)), 0);     // module count
    EXPECT_EQ(ReadAt<void*>(raw, Offset(140092, 140360)), nullptr); // m_BigLock
    const size_t table = Offset(140096, 140368);
    for (size_t slot = 0; slot < 10; ++slot)
        EXPECT_NE(ReadAt<const void*>(raw, table + slot * sizeof(void*)), nullptr) << slot + 1;
    EXPECT_EQ(ReadAt<ProfilerRegisterScopeFunc>(raw, table + 6 * sizeof(void*)),
              context->RegisterScope);
    EXPECT_EQ(ReadAt<ProfilerGetThreadNameFunc>(raw, table + 9 * sizeof(void*)),
              context->GetThreadName);
    EXPECT_EQ(reinterpret_cast<const char*>(context->m_Threads[1].m_Name) -
                  static_cast<const char*>(raw),
              static_cast<ptrdiff_t>(Offset(28 + 280 + 16, 32 + 288 + 24)));
    EXPECT_EQ(reinterpret_cast<const char*>(&context->m_ProfilerLoadedProfilerModules[1]) -
                  static_cast<const char*>(raw),
              static_cast<ptrdiff_t>(Offset(140136 + 8, 140448 + 16)));
    EXPECT_STREQ(context->GetThreadName(),
                 "Unknown Thread (Function temporarily disabled for Win32)");
}

TEST(Library, BeforeTheLockOperationsReturnTheirFailureValues)
{
    SProfilerContext* context = GetProfiler();
    int32_t slot = -1;
    EXPECT_EQ(context->RegisterScope(&slot, "Early", 1.0f), -2);
    EXPECT_EQ(slot, -1);
    EXPECT_EQ(context->RegisterThread("early"), 0u);
    EXPECT_EQ(context->CreateThreadData("early"), 0xFFFFFFFFu);
    EXPECT_EQ(context->PeekThreadID(), 0u);
    EXPECT_EQ(context->m_NumThreads, 0);
    EXPECT_EQ(context->m_NumScopes, 0);

    SProfilerStaticScope records[] = {{-1, 1.0f, "EarlyModule"}};
    context->RegisterModule(records, records + 1);
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 1);
    EXPECT_EQ(context->m_ProfilerLoadedProfilerModules[0].m_Begin, records);
    EXPECT_EQ(records[0].m_Index, -1);
    context->UnregisterModule(records);
    EXPECT_EQ(context->m_ProfilerNumLoadedModules, 0);
}

TEST(Library, ASecondModuleSharesTheContextAndReleasesItsNamesWhenUnloaded)
{
    SProfilerContext* context = GetProfiler();
    std::vector<SProfilerScope> scopes(16);
    context->m_ProfilerAllocator = GetDefaultAllocator();
    context->m_NumScopeEntries = 16;
    context->m_NumThreadEntries = 1;
    context->m_FirstThreadID = 1;
    context->m_Scopes = scopes.data();
    ThreadMutex* lock = ThreadMutexCreate();
    std::atomic_ref<ThreadMutex*>(context->m_BigLock).store(lock, std::memory_order_release);

    // This executable's own records.
    static const char kShared[] = "SharedScope";
    SProfilerStaticScope mine[] = {{-1, 1.0f, "ExecutableScope"}, {-1, 2.0f, kShared}};
    context->RegisterModule(mine, mine + 2);
    ASSERT_EQ(mine[1].m_Index, 1);

    void* module = OsModuleLoad(PC_SCOPE_MODULE_PATH);
    ASSERT_NE(module, nullptr) << PC_SCOPE_MODULE_PATH;
    ASSERT_EQ(context->m_ProfilerNumLoadedModules, 2);
    const SProfilerModule loaded = context->m_ProfilerLoadedProfilerModules[1];
    ASSERT_EQ(loaded.m_End - loaded.m_Begin, 2);
    EXPECT_EQ(loaded.m_Begin[0].m_Index, 2); // the module's own scope: a new index
    EXPECT_EQ(loaded.m_Begin[1].m_Index, 1); // the shared name: this executable's index
    EXPECT_EQ(context->m_NumScopes, 3);
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
