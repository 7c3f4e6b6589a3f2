// The thread registry through the service table: ids, records, automatic registration,
// failure values, and what happens after a failed assertion.
#include <cstring>
#include <string>
#include <thread>

#include "common/thread/thread.h"
#include "profiler_fixture.h"

namespace
{

const char* CustomThreadName()
{
    return "named by the client";
}

const char* NullThreadName()
{
    return nullptr;
}

bool AllBytesZero(const void* block, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

// Runs f on a fresh thread: each OS thread has its own profiler id slot.
template <typename F> void OnNewThread(F f)
{
    std::thread thread(f);
    thread.join();
}

struct SCallbackSeen
{
    uint32_t m_Id = 0;
    const char* m_Name = nullptr;
    int32_t m_NumThreadsDuringCall = -1;
    int m_Calls = 0;
} s_CallbackSeen;

void OnThreadCreated(uint32_t id, const char* name)
{
    s_CallbackSeen.m_Id = id;
    s_CallbackSeen.m_Name = name;
    s_CallbackSeen.m_NumThreadsDuringCall = GetProfiler()->m_NumThreads;
    ++s_CallbackSeen.m_Calls;
}

} // namespace

TEST_F(ProfilerTest, IdsAndRecordsCountFromTheFirstThreadId)
{
    SetUpReady(10, 3, 100);
    Context()->m_OnThreadCreated = &OnThreadCreated;
    SProfilerContext* context = Context();

    uint32_t firstId = 0, secondId = 0;
    OnNewThread([&] {
        EXPECT_EQ(context->RegisterThread("first"), 1u);
        firstId = context->PeekThreadID();
    });
    EXPECT_EQ(s_CallbackSeen.m_NumThreadsDuringCall, 0);
    OnNewThread([&] {
        EXPECT_EQ(context->PeekThreadID(), 0u);
        EXPECT_EQ(context->RegisterThread("second"), 1u);
        secondId = context->GetThreadID();
    });
    EXPECT_EQ(firstId, 100u);
    EXPECT_EQ(secondId, 101u);
    EXPECT_EQ(NumThreads(), 2);
    EXPECT_EQ(context->GetThreadData(101), &context->m_Threads[1]);
    EXPECT_EQ(context->GetThreadData(100), &context->m_Threads[0]);

    // The callback saw the new record's id, name and index, while it was not yet counted.
    EXPECT_EQ(s_CallbackSeen.m_Calls, 2);
    EXPECT_EQ(s_CallbackSeen.m_Id, 101u);
    EXPECT_EQ(s_CallbackSeen.m_Name, context->m_Threads[1].m_Name);
    EXPECT_EQ(s_CallbackSeen.m_NumThreadsDuringCall, 1);

    // Complete records: zeroed buffers of the configured sizes, alignment 8, client words 0.
    const SProfilerThread& record = context->m_Threads[1];
    EXPECT_STREQ(record.m_Name, "second");
    ASSERT_NE(record.m_ScopeEntries, nullptr);
    ASSERT_NE(record.m_ThreadEntries, nullptr);
    EXPECT_TRUE(AllBytesZero(record.m_ScopeEntries, 10 * 16)); // allocator filled 0xCD
    EXPECT_TRUE(AllBytesZero(record.m_ThreadEntries, 3 * 16));
    EXPECT_EQ(m_Allocator.m_LastSize.load(), 3u * 16u);
    EXPECT_EQ(m_Allocator.m_LastAlignment.load(), 8u);
    EXPECT_EQ(record.m_ClientWord0 | record.m_ClientWord1 | record.m_ClientWord2, 0u);
    EXPECT_EQ(m_Allocator.m_Allocations.load(), 4);
    EXPECT_EQ(m_Allocator.m_Frees.load(), 0);
}

TEST_F(ProfilerTest, AutomaticRegistrationUsesTheNameSlot)
{
    SetUpReady();
    SProfilerContext* context = Context();
    EXPECT_EQ(context->GetThreadName, &ThreadGetCurrentName);

    OnNewThread([&] {
        EXPECT_EQ(context->PeekThreadID(), 0u);
        EXPECT_EQ(context->GetThreadID(), 1u);
        EXPECT_EQ(context->GetThreadID(), 1u); // no second record
    });
    EXPECT_EQ(NumThreads(), 1);
    EXPECT_STREQ(context->m_Threads[0].m_Name,
                 "Unknown Thread (Function temporarily disabled for Win32)");

    context->GetThreadName = &CustomThreadName;
    OnNewThread([&] { EXPECT_EQ(context->GetThreadData(0), &context->m_Threads[1]); });
    EXPECT_STREQ(context->m_Threads[1].m_Name, "named by the client");

    context->GetThreadName = &NullThreadName;
    OnNewThread([&] { EXPECT_EQ(context->GetThreadID(), 3u); });
    EXPECT_STREQ(context->m_Threads[2].m_Name, "Unknown Thread");
    EXPECT_EQ(NumThreads(), 3);
}

TEST_F(ProfilerTest, NamesAreCutTo255Characters)
{
    SetUpReady();
    const std::string longName(300, 'n');
    EXPECT_EQ(Context()->CreateThreadData(longName.c_str()), 1u);
    const SProfilerThread& record = Context()->m_Threads[0];
    EXPECT_EQ(std::string(record.m_Name), longName.substr(0, 255));
    EXPECT_EQ(record.m_Name[255], '\0');

    EXPECT_EQ(Context()->CreateThreadData("short"), 2u);
    const SProfilerThread& next = Context()->m_Threads[1];
    EXPECT_STREQ(next.m_Name, "short");
    EXPECT_TRUE(AllBytesZero(next.m_Name + 5, 256 - 5)); // padded with zero bytes
}

TEST_F(ProfilerTest, The33rdRegistrationFailsAndStaysFailed)
{
    SetUpReady();
    SProfilerContext* context = Context();
    for (uint32_t i = 0; i < 32; ++i)
        ASSERT_EQ(context->CreateThreadData("filler"), i + 1);
    EXPECT_EQ(context->CreateThreadData("one too many"), PROFILER_INVALID_THREAD_ID);

    CAssertRecorder recorder;
    OnNewThread([&] {
        EXPECT_EQ(context->RegisterThread("late"), 0u);
        EXPECT_EQ(context->PeekThreadID(), PROFILER_INVALID_THREAD_ID);
        EXPECT_EQ(context->GetThreadID(), PROFILER_INVALID_THREAD_ID); // no new attempt
    });
    EXPECT_EQ(recorder.Count(), 0u);
    OnNewThread([&] {
        // The automatic registration fails its check and yields no record.
        EXPECT_EQ(context->GetThreadData(0), nullptr);
        EXPECT_TRUE(recorder.Saw("ret == 1"));
    });
    EXPECT_EQ(NumThreads(), 32);
    EXPECT_EQ(m_Allocator.m_Allocations.load(), 64);

    // Ids with no record give null, never a pointer past the 32 records.
    EXPECT_EQ(context->GetThreadData(32), &context->m_Threads[31]);
    EXPECT_EQ(context->GetThreadData(33), nullptr);
    EXPECT_EQ(context->GetThreadData(INT32_MAX), nullptr);
}

TEST_F(ProfilerTest, FailedSecondBufferGivesTheFirstBackAndKeepsTheRecord)
{
    SetUpReady(8, 2, 5);
    m_Allocator.m_FailCountdown.store(1);
    EXPECT_EQ(Context()->CreateThreadData("first try"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(m_Allocator.m_Allocations.load(), 1);
    EXPECT_EQ(m_Allocator.m_Frees.load(), 1);
    EXPECT_EQ(Context()->m_Threads[0].m_ScopeEntries, nullptr);
    EXPECT_EQ(NumThreads(), 0);

    m_Allocator.m_FailCountdown.store(0);
    EXPECT_EQ(Context()->CreateThreadData("second try"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(m_Allocator.Live(), 0);

    EXPECT_EQ(Context()->CreateThreadData("third try"), 5u); // the same record again
    EXPECT_STREQ(Context()->m_Threads[0].m_Name, "third try");
    EXPECT_EQ(NumThreads(), 1);
    EXPECT_EQ(m_Allocator.Live(), 2);
}

TEST_F(ProfilerTest, CapacitiesThatCannotBeAllocatedFailTheRegistration)
{
    SetUpReady(-1, 4);
    EXPECT_EQ(Context()->CreateThreadData("negative"), PROFILER_INVALID_THREAD_ID);
    Context()->m_NumScopeEntries = 4;
    Context()->m_NumThreadEntries = 0x10000000u; // 4 GiB: does not fit the 32-bit size
    EXPECT_EQ(Context()->CreateThreadData("too large"), PROFILER_INVALID_THREAD_ID);
    Context()->m_NumThreadEntries = 0x80000000u; // negative when read as signed
    EXPECT_EQ(Context()->CreateThreadData("too large"), PROFILER_INVALID_THREAD_ID);
    Context()->m_NumThreadEntries = 0; // the default allocator refuses 0 bytes
    Context()->m_ProfilerAllocator = GetDefaultAllocator();
    EXPECT_EQ(Context()->CreateThreadData("empty"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(NumThreads(), 0);
    EXPECT_EQ(m_Allocator.Live(), 0); // every first buffer went back
}

TEST_F(ProfilerTest, WithoutTheLockNothingRegisters)
{
    Configure();
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    EXPECT_EQ(context->CreateThreadData("early"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(context->RegisterThread("early"), 0u);
    EXPECT_EQ(context->PeekThreadID(), 0u); // not touched
    EXPECT_EQ(recorder.Count(), 0u);
    EXPECT_EQ(context->GetThreadData(0), nullptr);
    EXPECT_TRUE(recorder.Saw("ret == 1"));
    EXPECT_EQ(NumThreads(), 0);
    EXPECT_EQ(m_Allocator.m_Allocations.load(), 0);
}

TEST_F(ProfilerTest, RegisteringTwiceFailsItsCheckAndReplacesTheId)
{
    SetUpReady();
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    EXPECT_EQ(context->RegisterThread("once"), 1u);
    EXPECT_EQ(context->PeekThreadID(), 1u);
    EXPECT_EQ(recorder.Count(), 0u);
    EXPECT_EQ(context->RegisterThread("twice"), 1u);
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Records()[0].m_Expression,
              "TLS_GLOBAL_GET_UINTPTR(g_profiler_this_thread_id) < "
              "(uint32_t)g_ProfilerContext.m_FirstThreadID");
    EXPECT_EQ(recorder.Records()[0].m_File, "profile/profilercontext.cpp");
    EXPECT_EQ(context->PeekThreadID(), 2u);
}
