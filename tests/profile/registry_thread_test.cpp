// The thread registry through the service table: ids, records, automatic registration,
// failure values, and what happens after a failed assertion.
#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "common/thread/synchronization.h"
#include "common/thread/thread.h"
#include "guard_page.h"
#include "platform/os.h"
#include "profiler_fixture.h"

TLS_GLOBAL_DECLARE(g_profiler_this_thread_id);

namespace
{

bool AllBytesZero(const void* block, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(block);
    return std::all_of(bytes, bytes + size, [](unsigned char byte) { return byte == 0; });
}

// Runs f on a fresh thread: each OS thread has its own profiler id slot.
template <typename F> void OnNewThread(F f)
{
    std::thread(f).join();
}

struct SCallbackSeen
{
    uint32_t m_Id = 0;
    const char* m_Name = nullptr;
    int32_t m_NumThreadsDuringCall = -1;
} s_Seen;

} // namespace

TEST_F(ProfilerTest, IdsRecordsAndTheCreationCallback)
{
    SetUpReady(10, 3, 100);
    SProfilerContext* context = Context();
    context->m_OnThreadCreated = [](uint32_t id, const char* name) {
        s_Seen = {id, name, GetProfiler()->m_NumThreads};
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
    // The callback saw the new record's id and name while the count still excluded it.
    EXPECT_EQ(s_Seen.m_Id, 101u);
    EXPECT_EQ(s_Seen.m_Name, context->m_Threads[1].m_Name);
    EXPECT_EQ(s_Seen.m_NumThreadsDuringCall, 1);

    // Zeroed buffers (the allocator fills 0xCD) of the configured sizes, alignment 8.
    const SProfilerThread& record = context->m_Threads[1];
    EXPECT_STREQ(record.m_Name, "second");
    EXPECT_TRUE(AllBytesZero(record.m_ScopeEntries, 10 * 16));
    EXPECT_TRUE(AllBytesZero(record.m_ThreadEntries, 3 * 16));
    EXPECT_EQ(m_Allocator.m_LastSize.load(), 3u * 16u);
    EXPECT_EQ(m_Allocator.m_LastAlignment.load(), 8u);

    // Names: a long one is cut to 255 characters, a short one padded with zeros.
    const std::string longName(300, 'n');
    EXPECT_EQ(context->CreateThreadData(longName.c_str()), 102u);
    EXPECT_EQ(std::string(context->m_Threads[2].m_Name), longName.substr(0, 255));
    EXPECT_EQ(context->CreateThreadData("short"), 103u);
    EXPECT_TRUE(AllBytesZero(context->m_Threads[3].m_Name + 5, 256 - 5));
}

TEST_F(ProfilerTest, AutomaticRegistrationUsesTheNameSlot)
{
    SetUpReady();
    SProfilerContext* context = Context();
    EXPECT_EQ(context->GetThreadName, &ThreadGetCurrentName);
    OnNewThread([&] {
        EXPECT_EQ(context->GetThreadID(), 1u);
        EXPECT_EQ(context->GetThreadID(), 1u); // no second record
    });
    EXPECT_STREQ(context->m_Threads[0].m_Name,
                 "Unknown Thread (Function temporarily disabled for Win32)");

    context->GetThreadName = [] { return "named by the client"; };
    OnNewThread([&] { EXPECT_EQ(context->GetThreadData(0), &context->m_Threads[1]); });
    EXPECT_STREQ(context->m_Threads[1].m_Name, "named by the client");

    context->GetThreadName = []() -> const char* { return nullptr; };
    OnNewThread([&] { EXPECT_EQ(context->GetThreadID(), 3u); });
    EXPECT_STREQ(context->m_Threads[2].m_Name, "Unknown Thread");
    EXPECT_EQ(NumThreads(), 3);
}

// Names whose terminating zero is the last byte before an inaccessible page: reading past
// it (or past 255 characters of a longer name, or a fixed 255 of a short one) faults.
TEST_F(ProfilerTest, NamesEndingAtAGuardPageAreReadNoFurther)
{
    SetUpReady(4);
    SProfilerContext* context = Context();
    const std::string exact(255, 'e'), longer(300, 'l'), slot = "short";
    CGuardedText exactText(exact), longerText(longer), slotText(slot);
    static const char* s_SlotName;
    s_SlotName = slotText.Get();
    OnNewThread([&] { EXPECT_EQ(context->RegisterThread(exactText.Get()), 1u); });
    EXPECT_EQ(context->CreateThreadData(longerText.Get()), 2u);
    context->GetThreadName = [] { return s_SlotName; };
    OnNewThread([&] { EXPECT_EQ(context->GetThreadID(), 3u); });
    EXPECT_EQ(context->m_Threads[0].m_Name, exact);
    EXPECT_EQ(context->m_Threads[1].m_Name, longer.substr(0, 255));
    EXPECT_EQ(context->m_Threads[2].m_Name, slot);
    int32_t index = -1;
    EXPECT_EQ(context->RegisterScope(&index, exactText.Get(), 1.0f), 0);
    EXPECT_EQ(m_Scopes[0].m_Name, exactText.Get());
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
    // The automatic registration fails its check and yields no record.
    OnNewThread([&] { EXPECT_EQ(context->GetThreadData(0), nullptr); });
    EXPECT_TRUE(recorder.Saw("ret == 1"));
    EXPECT_EQ(NumThreads(), 32);

    // Ids without a record give null, never a pointer past the 32 records.
    EXPECT_EQ(context->GetThreadData(32), &context->m_Threads[31]);
    EXPECT_EQ(context->GetThreadData(33), nullptr);
    EXPECT_EQ(context->GetThreadData(INT32_MAX), nullptr);
}

TEST_F(ProfilerTest, FailedAllocationsGiveBackWhatTheyTookAndKeepTheRecord)
{
    SetUpReady(8, 2, 5);
    m_Allocator.m_FailCountdown.store(1); // the second buffer fails
    EXPECT_EQ(Context()->CreateThreadData("first try"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(m_Allocator.m_Frees.load(), 1);
    EXPECT_EQ(Context()->m_Threads[0].m_ScopeEntries, nullptr);

    // Capacities that cannot be allocated fail without a wrapped request: negative,
    // larger than the 32-bit size, and 0 bytes (which the default allocator refuses).
    Context()->m_NumThreadEntries = 0x10000000u;
    EXPECT_EQ(Context()->CreateThreadData("too large"), PROFILER_INVALID_THREAD_ID);
    Context()->m_NumScopeEntries = -1;
    EXPECT_EQ(Context()->CreateThreadData("negative"), PROFILER_INVALID_THREAD_ID);
    Context()->m_NumScopeEntries = 8;
    Context()->m_NumThreadEntries = 0;
    Context()->m_ProfilerAllocator = GetDefaultAllocator();
    EXPECT_EQ(Context()->CreateThreadData("empty"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(m_Allocator.Live(), 0);
    EXPECT_EQ(NumThreads(), 0);

    Context()->m_ProfilerAllocator = m_Allocator.Get();
    Context()->m_NumThreadEntries = 2;
    EXPECT_EQ(Context()->CreateThreadData("at last"), 5u); // the same record again
    EXPECT_STREQ(Context()->m_Threads[0].m_Name, "at last");
    EXPECT_EQ(m_Allocator.Live(), 2);
}

TEST_F(ProfilerTest, MisuseIsReportedAndLeavesNoRecordBehind)
{
    Configure();
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    // Without the lock nothing registers and the thread's slot is not touched.
    EXPECT_EQ(context->CreateThreadData("early"), PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(context->RegisterThread("early"), 0u);
    EXPECT_EQ(context->PeekThreadID(), 0u);
    EXPECT_EQ(context->GetThreadData(0), nullptr);
    EXPECT_TRUE(recorder.Saw("ret == 1"));
    EXPECT_EQ(m_Allocator.m_Allocations.load(), 0);

    // Registering twice fails its check and replaces the id when execution continues.
    InstallLock();
    EXPECT_EQ(context->RegisterThread("once"), 1u);
    EXPECT_EQ(context->RegisterThread("twice"), 1u);
    const SAssertRecord last = recorder.Records().back();
    EXPECT_EQ(last.m_Expression, "TLS_GLOBAL_GET_UINTPTR(g_profiler_this_thread_id) < "
                                 "(uint32)g_ProfilerContext.m_FirstThreadID");
    EXPECT_EQ(last.m_File, "profile/profilercontext.cpp");
    EXPECT_EQ(context->PeekThreadID(), 2u);
}

namespace
{

SCountingAllocator* s_Backing = nullptr;
uint32_t s_IdSeenByAllocator = 0;

// An allocator that looks the calling thread up before it allocates.
void* LookingUpAlloc(SAllocator*, uint32_t size, uint32_t alignment)
{
    s_IdSeenByAllocator = GetProfiler()->GetThreadID();
    return s_Backing->m_Base.m_Alloc(s_Backing->Get(), size, alignment);
}

} // namespace

TEST_F(ProfilerTest, ACreationStartedInsideACreationFailsAndTheOuterOneCompletes)
{
    SetUpReady(4, 2, 10);
    CAssertRecorder recorder;
    SProfilerContext* context = Context();
    static struct
    {
        int m_Depth;
        uint32_t m_Direct, m_Lookup, m_Register;
        int32_t m_Count;
    } inner;
    inner = {};
    context->m_OnThreadCreated = [](uint32_t, const char*) {
        if (inner.m_Depth++ > 0)
            return; // before the guard, each inner creation called back again
        SProfilerContext* c = GetProfiler();
        inner.m_Direct = c->CreateThreadData("inner");
        inner.m_Lookup = c->GetThreadID();
        inner.m_Register = c->RegisterThread("inner");
        inner.m_Count = c->m_NumThreads;
    };
    OnNewThread([&] {
        EXPECT_EQ(context->RegisterThread("outer"), 1u);
        EXPECT_EQ(context->PeekThreadID(), 10u);
    });
    EXPECT_EQ(inner.m_Direct, PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(inner.m_Lookup, PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(inner.m_Register, 0u);
    EXPECT_EQ(inner.m_Count, 0);
    EXPECT_EQ(NumThreads(), 1);
    EXPECT_STREQ(context->m_Threads[0].m_Name, "outer");
    EXPECT_EQ(m_Allocator.Live(), 2); // the outer record's buffers, nothing leaked

    // An allocator that looks its thread up finds it failed instead of recursing.
    context->m_OnThreadCreated = nullptr;
    s_Backing = &m_Allocator;
    SAllocator lookingUp = {&LookingUpAlloc, m_Allocator.m_Base.m_Free};
    context->m_ProfilerAllocator = &lookingUp;
    OnNewThread([&] { EXPECT_EQ(context->GetThreadID(), 11u); });
    EXPECT_EQ(s_IdSeenByAllocator, PROFILER_INVALID_THREAD_ID);
    EXPECT_EQ(NumThreads(), 2);
    EXPECT_EQ(m_Allocator.Live(), 4);
}

TEST_F(ProfilerTest, AThreadWhoseSlotCannotHoldAnIdUsesUpNoRecord)
{
    SetUpReady();
    CAssertRecorder recorder;
    const SThreadSeams saved = g_ThreadSeams;
    g_profiler_this_thread_id_slot = OS_TLS_INVALID;
    g_ThreadSeams.m_TlsAlloc = [] { return OS_TLS_INVALID; };
    SProfilerContext* context = Context();
    EXPECT_EQ(context->RegisterThread("no slot"), 0u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(context->GetThreadID(), 0u); // each attempt fails its check, creates nothing
    EXPECT_EQ(NumThreads(), 0);
    EXPECT_EQ(m_Allocator.m_Allocations.load(), 0);
    EXPECT_TRUE(recorder.Saw("ret == 1"));

    g_ThreadSeams = saved;
    EXPECT_EQ(context->GetThreadID(), 1u);
}

TEST_F(ProfilerTest, IdsAreUnsignedPastTheSignedRange)
{
    SetUpReady(4, 2, INT32_MAX);
    EXPECT_EQ(Context()->CreateThreadData("last signed"), 0x7FFFFFFFu);
    EXPECT_EQ(Context()->CreateThreadData("first unsigned"), 0x80000000u);
}
