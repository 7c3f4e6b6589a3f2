// The continuous capture, on the owner's side: its start and stop, the capture rings of the
// threads, and the writer thread that drains the rings and the event queue into a Chrome
// trace-event file (the array form, whose closing bracket may be missing, so that the file
// of a killed process still opens). Portable.
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/debug/assert.h"
#include "common/thread/mutex.h"
#include "common/thread/synchronization.h"
#include "common/thread/thread.h"
#include "kit/kit_private.h"
#include "kit/profilerkit.h"

namespace
{

constexpr size_t WRITE_AT = size_t(1) << 20; // bytes gathered before they go to the file
constexpr size_t EVENT_ROOM = 2048;          // bytes one event may need beyond its name
constexpr uint64_t RELEASE_EVERY = 4096;     // ring entries formatted between tail updates

const char* const s_SeverityNames[] = {"none", "assert", "error", "warning", "info", "verbose"};
static_assert(sizeof(s_SeverityNames) / sizeof(s_SeverityNames[0]) == E_LOG_VERBOSE + 1,
              "a name per severity");
const char* const s_EventNames[] = {"", "Counter", "Frame", "Module loaded", "Module unloaded"};
static_assert(sizeof(s_EventNames) / sizeof(s_EventNames[0]) == E_PROFILER_KIT_EVENT_COUNT,
              "a name per event kind");

// The owner's side of the capture: what the writer thread and the owner's calls share.
struct SCaptureWriter
{
    SAllocator* m_Allocator = nullptr;
    uint32_t m_RingLength = 0;
    SProfilerKitCapture* m_Capture = nullptr;
    bool m_Open = false; // between a successful start and its stop (owner only)
    ThreadImpl* m_Thread = nullptr;
    std::atomic<bool> m_Stop{false};
    bool m_Failed = false; // the writer's; read after the join
    FILE* m_File = nullptr;
    SProfilerKitCaptureParams m_Params;
    std::vector<char> m_Buffer;
    size_t m_Used = 0;
    bool m_First = true;
    uint64_t m_Bytes = 0;
    uint64_t m_Events = 0;
    int64_t m_BusyTicks = 0;
    uint32_t m_Pid = 0;
    double m_NsPerTick = 1;
    uint64_t m_StartTicks = 0;
    int32_t m_ThreadsNamed = 0;
    std::vector<std::string> m_Names; // JSON strings, quotes included, per scope index
    std::vector<uint32_t> m_Thresholds;
    uint64_t m_DropsMarked[PROFILER_MAX_THREADS] = {};
    std::vector<SProfilerKitEvent> m_Queue;
};
SCaptureWriter s_Writer;
bool s_ExitHookInstalled = false;

void WriteOut()
{
    const size_t written = s_Writer.m_Used != 0 ? std::fwrite(s_Writer.m_Buffer.data(), 1,
                                                              s_Writer.m_Used, s_Writer.m_File)
                                                : 0;
    s_Writer.m_Failed = s_Writer.m_Failed || written != s_Writer.m_Used;
    s_Writer.m_Bytes += written; // the file's bytes, also after a failed write
    s_Writer.m_Used = 0;
}

// Room for one event with a name of nameLength bytes; returns where it begins, after the
// separator from the previous event.
char* BeginEvent(size_t nameLength)
{
    if (s_Writer.m_Used + nameLength + EVENT_ROOM > s_Writer.m_Buffer.size())
        WriteOut();
    char* p = s_Writer.m_Buffer.data() + s_Writer.m_Used;
    if (!s_Writer.m_First)
    {
        *p++ = ',';
        *p++ = '\n';
    }
    s_Writer.m_First = false;
    ++s_Writer.m_Events;
    return p;
}

void EndEvent(char* p)
{
    s_Writer.m_Used = static_cast<size_t>(p - s_Writer.m_Buffer.data());
}

char* Put(char* p, const char* text, size_t length)
{
    std::memcpy(p, text, length);
    return p + length;
}
template <size_t N> char* Put(char* p, const char (&text)[N])
{
    return Put(p, text, N - 1);
}
char* PutInt(char* p, uint64_t value)
{
    return std::to_chars(p, p + 24, value).ptr;
}

int64_t ToNs(uint64_t ticks)
{
    const double delta = static_cast<double>(static_cast<int64_t>(ticks - s_Writer.m_StartTicks));
    return std::llround(delta * s_Writer.m_NsPerTick);
}

// Microseconds with three decimals, exactly the nanoseconds given.
char* PutMicros(char* p, int64_t ns)
{
    uint64_t magnitude = static_cast<uint64_t>(ns);
    if (ns < 0)
    {
        *p++ = '-';
        magnitude = 0 - magnitude;
    }
    p = PutInt(p, magnitude / 1000);
    const uint32_t fraction = static_cast<uint32_t>(magnitude % 1000);
    p[0] = '.';
    p[1] = static_cast<char>('0' + fraction / 100);
    p[2] = static_cast<char>('0' + fraction / 10 % 10);
    p[3] = static_cast<char>('0' + fraction % 10);
    return p + 4;
}

// The fields every event ends with: "ts", "pid" and "tid" (and no closing brace).
char* PutWhere(char* p, int64_t ns, uint32_t tid)
{
    p = Put(p, ",\"ts\":");
    p = PutMicros(p, ns);
    p = Put(p, ",\"pid\":");
    p = PutInt(p, s_Writer.m_Pid);
    p = Put(p, ",\"tid\":");
    return PutInt(p, tid);
}

void RefreshNames()
{
    SProfilerKitSnapshot snapshot;
    if (!ProfilerKitTakeSnapshot(&snapshot))
        return;
    // Names already known stay as they were: a scope keeps the text it had when first seen.
    for (size_t i = s_Writer.m_Names.size(); i < snapshot.m_Scopes.size(); ++i)
    {
        std::string name;
        ProfilerKitJsonString(&name, snapshot.m_Scopes[i].m_Name.c_str());
        s_Writer.m_Names.push_back(std::move(name));
        s_Writer.m_Thresholds.push_back(snapshot.m_Scopes[i].m_ThresholdTicks);
    }
}

void NameThreads(SProfilerContext* context, int32_t count)
{
    for (; s_Writer.m_ThreadsNamed < count; ++s_Writer.m_ThreadsNamed)
    {
        const int32_t t = s_Writer.m_ThreadsNamed;
        std::string name;
        ProfilerKitJsonString(&name, context->m_Threads[t].m_Name);
        char* p = BeginEvent(name.size());
        p = Put(p, "{\"ph\":\"M\",\"name\":\"thread_name\",\"pid\":");
        p = PutInt(p, s_Writer.m_Pid);
        p = Put(p, ",\"tid\":");
        p = PutInt(p, static_cast<uint32_t>(t + context->m_FirstThreadID));
        p = Put(p, ",\"args\":{\"name\":");
        p = Put(p, name.data(), name.size());
        EndEvent(Put(p, "}}"));
    }
}

void PutDropMark(uint64_t ticks, uint32_t tid, uint64_t count, const char* name)
{
    char* p = BeginEvent(0);
    p = Put(p, "{\"ph\":\"i\",\"s\":\"t\",\"name\":\"");
    p = Put(p, name, std::strlen(name));
    p = PutWhere(Put(p, "\""), ToNs(ticks), tid);
    p = Put(p, ",\"args\":{\"count\":");
    p = PutInt(p, count);
    EndEvent(Put(p, "}}"));
}

void PutCall(const SProfilerKitRingEntry& entry, uint32_t slot, uint32_t tid)
{
    if ((entry.m_StartTicks & PROFILER_KIT_CAPTURE_DROPS) != 0)
    {
        const uint64_t ticks = entry.m_StartTicks & ~PROFILER_KIT_CAPTURE_DROPS;
        if (ticks >= s_Writer.m_StartTicks) // marks of an earlier capture were counted there
        {
            s_Writer.m_DropsMarked[slot] += entry.m_Packed;
            PutDropMark(ticks, tid, entry.m_Packed, "Dropped calls");
        }
        return;
    }
    const uint64_t ticks = entry.m_Packed & PROFILER_KIT_MAX_DURATION;
    const size_t scope = static_cast<size_t>(entry.m_Packed >> PROFILER_KIT_DURATION_BITS);
    // A call that ended before the start was late for an earlier capture.
    if (entry.m_StartTicks + ticks < s_Writer.m_StartTicks)
        return;
    if (scope >= s_Writer.m_Names.size())
        RefreshNames();
    static const std::string s_Unknown = "\"(unknown)\"";
    const std::string& name = scope < s_Writer.m_Names.size() ? s_Writer.m_Names[scope] : s_Unknown;
    // Start and end are rounded alike, so calls nest in the file as they did in the run.
    const int64_t start = ToNs(entry.m_StartTicks);
    char* p = BeginEvent(name.size());
    p = Put(p, "{\"ph\":\"X\",\"name\":");
    p = Put(p, name.data(), name.size());
    p = PutWhere(p, start, tid);
    p = Put(p, ",\"dur\":");
    p = PutMicros(p, ToNs(entry.m_StartTicks + ticks) - start);
    // A threshold of 0 keeps every call in the flight recorder: no spike to mark.
    if (scope < s_Writer.m_Thresholds.size() && s_Writer.m_Thresholds[scope] != 0 &&
        ticks >= s_Writer.m_Thresholds[scope])
        p = Put(p, ",\"args\":{\"overThreshold\":true}");
    EndEvent(Put(p, "}"));
}

bool DrainRings(SProfilerContext* context, SProfilerKitCapture& capture)
{
    const int32_t count =
        std::atomic_ref<int32_t>(context->m_NumThreads).load(std::memory_order_acquire);
    NameThreads(context, count);
    const uint64_t mask = capture.m_RingLength - 1;
    bool busy = false;
    for (int32_t t = 0; t < count; ++t)
    {
        SProfilerKitCaptureThread& slot = capture.m_Threads[t];
        const SProfilerKitRingEntry* ring = ProfilerKitLoad(slot.m_Ring);
        if (ring == nullptr)
            continue;
        const uint32_t tid = static_cast<uint32_t>(t + context->m_FirstThreadID);
        const uint64_t head =
            std::atomic_ref<uint64_t>(slot.m_Head).load(std::memory_order_acquire);
        uint64_t tail = ProfilerKitLoad(slot.m_Tail);
        busy |= tail != head;
        while (tail != head)
        {
            const uint64_t until = head - tail > RELEASE_EVERY ? tail + RELEASE_EVERY : head;
            for (; tail != until; ++tail)
                PutCall(ring[tail & mask], static_cast<uint32_t>(t), tid);
            std::atomic_ref<uint64_t>(slot.m_Tail).store(tail, std::memory_order_release);
        }
    }
    return busy;
}

bool DrainEvents(SProfilerKitCapture& capture)
{
    std::vector<SProfilerKitEvent>& queue = s_Writer.m_Queue;
    queue.clear();
    {
        CScopedMutexLock hold(capture.m_EventLock);
        for (; capture.m_EventTail != capture.m_EventHead; ++capture.m_EventTail)
            queue.push_back(capture.m_Events[capture.m_EventTail & (PROFILER_KIT_EVENTS - 1)]);
    }
    std::string name, text;
    for (const SProfilerKitEvent& event : queue)
    {
        name.clear();
        text.clear();
        ProfilerKitJsonString(&name, event.m_Name);
        ProfilerKitJsonString(&text, event.m_Text);
        const int64_t ns = ToNs(event.m_Ticks);
        switch (event.m_Kind)
        {
        case E_PROFILER_KIT_EVENT_LOG:
        {
            char* p = BeginEvent(name.size() + text.size());
            p = Put(p, "{\"ph\":\"i\",\"s\":\"t\",\"name\":");
            p = PutWhere(Put(p, text.data(), text.size()), ns, event.m_ThreadId);
            p = Put(p, ",\"args\":{\"severity\":\"");
            const uint32_t severity = static_cast<uint32_t>(event.m_Severity);
            const char* level = s_SeverityNames[severity <= E_LOG_VERBOSE ? severity : 0];
            p = Put(Put(p, level, std::strlen(level)), "\",\"channel\":");
            EndEvent(Put(Put(p, name.data(), name.size()), "}}"));
            break;
        }
        case E_PROFILER_KIT_EVENT_COUNTER:
        {
            if (!std::isfinite(event.m_Value))
                break; // JSON has no such numbers
            char* p = BeginEvent(name.size());
            p = Put(Put(p, "{\"ph\":\"C\",\"name\":"), name.data(), name.size());
            p = Put(PutWhere(p, ns, event.m_ThreadId), ",\"args\":{\"value\":");
            p = std::to_chars(p, p + 32, event.m_Value).ptr;
            EndEvent(Put(p, "}}"));
            break;
        }
        case E_PROFILER_KIT_EVENT_FRAME:
            EndEvent(
                Put(PutWhere(Put(BeginEvent(0), "{\"ph\":\"i\",\"s\":\"g\",\"name\":\"Frame\""), ns,
                             event.m_ThreadId),
                    "}"));
            break;
        default:
        {
            const char* what =
                s_EventNames[event.m_Kind < E_PROFILER_KIT_EVENT_COUNT ? event.m_Kind : 0];
            char* p = BeginEvent(text.size());
            p = Put(p, "{\"ph\":\"i\",\"s\":\"p\",\"name\":\"");
            p = PutWhere(Put(Put(p, what, std::strlen(what)), "\""), ns, event.m_ThreadId);
            p = Put(p, ",\"args\":{\"file\":");
            EndEvent(Put(Put(p, text.data(), text.size()), "}}"));
        }
        }
    }
    return !queue.empty();
}

// The drops that no mark in the file holds yet, written at the end.
void FinishDrops(SProfilerContext* context, SProfilerKitCapture& capture)
{
    const uint64_t now = static_cast<uint64_t>(GetCounterTicks());
    for (int32_t t = 0; t < s_Writer.m_ThreadsNamed; ++t)
    {
        const SProfilerKitCaptureThread& slot = capture.m_Threads[t];
        const uint64_t dropped =
            ProfilerKitLoad(slot.m_Dropped) - ProfilerKitLoad(slot.m_DroppedAtStart);
        if (dropped > s_Writer.m_DropsMarked[t])
            PutDropMark(now, static_cast<uint32_t>(t + context->m_FirstThreadID),
                        dropped - s_Writer.m_DropsMarked[t], "Dropped calls");
    }
    CScopedMutexLock hold(capture.m_EventLock);
    if (capture.m_EventDropped != capture.m_EventDroppedAtStart)
        PutDropMark(now, 0, capture.m_EventDropped - capture.m_EventDroppedAtStart,
                    "Dropped events");
}

void WriterMain(void* /*arg*/)
{
    SProfilerContext* context = GetProfiler();
    SProfilerKitCapture& capture = *s_Writer.m_Capture;
    const double frequency = static_cast<double>(GetCounterFrequency());
    const int64_t flushTicks =
        static_cast<int64_t>(frequency * s_Writer.m_Params.m_FlushMs / 1000.0);
    const int64_t endTicks =
        s_Writer.m_Params.m_MaxSeconds > 0
            ? static_cast<int64_t>(s_Writer.m_StartTicks) +
                  static_cast<int64_t>(frequency * s_Writer.m_Params.m_MaxSeconds)
            : INT64_MAX;
    int64_t lastWrite = GetCounterTicks();
    for (;;)
    {
        const bool stop = s_Writer.m_Stop.load(std::memory_order_acquire);
        const int64_t begin = GetCounterTicks();
        // Both drains run every time: the events must not wait behind busy rings.
        const bool events = DrainEvents(capture);
        const bool busy = DrainRings(context, capture) || events;
        const int64_t now = GetCounterTicks();
        s_Writer.m_BusyTicks += busy ? now - begin : 0;
        const bool limit =
            now >= endTicks || (s_Writer.m_Params.m_MaxBytes != 0 &&
                                s_Writer.m_Bytes + s_Writer.m_Used >= s_Writer.m_Params.m_MaxBytes);
        if (stop || limit || s_Writer.m_Failed)
        {
            // Calls end up in the rings until the capture is seen inactive: one more pass.
            std::atomic_ref<uint32_t>(capture.m_Active).store(0, std::memory_order_release);
            DrainEvents(capture);
            DrainRings(context, capture);
            FinishDrops(context, capture);
            static const char s_End[] = "\n]\n";
            std::memcpy(s_Writer.m_Buffer.data() + s_Writer.m_Used, s_End, sizeof(s_End) - 1);
            s_Writer.m_Used += sizeof(s_End) - 1;
            WriteOut();
            return;
        }
        if (now - lastWrite >= flushTicks)
        {
            WriteOut();
            lastWrite = now;
        }
        if (!busy)
            ThreadSleep(1);
    }
}

void StopAtExit()
{
    if (s_Writer.m_Open)
        ProfilerKitCaptureStop();
}

} // namespace

void ProfilerKitCaptureConfigure(SAllocator* allocator, uint32_t ringLength)
{
    s_Writer.m_Allocator = allocator;
    s_Writer.m_RingLength = ringLength;
}

void ProfilerKitCaptureThreadCreated(uint32_t index)
{
    SProfilerKitCapture* capture = s_Writer.m_Capture;
    if (capture == nullptr || index >= PROFILER_MAX_THREADS ||
        capture->m_Threads[index].m_Ring != nullptr)
        return;
    const size_t bytes = sizeof(SProfilerKitRingEntry) * capture->m_RingLength;
    // A thread without a ring has each of its calls counted as dropped.
    void* ring =
        s_Writer.m_Allocator->m_Alloc(s_Writer.m_Allocator, static_cast<uint32_t>(bytes), 64);
    std::atomic_ref<SProfilerKitRingEntry*>(capture->m_Threads[index].m_Ring)
        .store(static_cast<SProfilerKitRingEntry*>(ring), std::memory_order_relaxed);
}

bool ProfilerKitCaptureStart(const char* path, const SProfilerKitCaptureParams* params)
{
    SProfilerContext* context = GetProfiler();
    ThreadMutex* lock =
        std::atomic_ref<ThreadMutex*>(context->m_BigLock).load(std::memory_order_acquire);
    const SProfilerKitCaptureParams defaults;
    const SProfilerKitCaptureParams& p = params != nullptr ? *params : defaults;
    PLATFORM_ASSERT(path != nullptr && "a capture needs a file path");
    PLATFORM_ASSERT(p.m_MaxSeconds >= 0 && p.m_FlushMs >= 1 && p.m_FlushMs <= 10000);
    if (path == nullptr || !(p.m_MaxSeconds >= 0) || p.m_FlushMs < 1 || p.m_FlushMs > 10000 ||
        lock == nullptr || s_Writer.m_Allocator == nullptr || s_Writer.m_Open)
        return false;
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    std::setvbuf(file, nullptr, _IONBF, 0); // the writer's buffer is the only one
    // A file that takes no bytes (a full disk) fails the start rather than the stop.
    static const char s_Begin[] = "[\n";
    if (std::fwrite(s_Begin, 1, sizeof(s_Begin) - 1, file) != sizeof(s_Begin) - 1)
    {
        std::fclose(file);
        return false;
    }

    SProfilerKitHeader* header = ProfilerKitHeader(context);
    {
        CScopedMutexLock hold(lock);
        if (s_Writer.m_Capture == nullptr)
        {
            // Kept for the life of the process: timed calls may read it at any time.
            void* memory = s_Writer.m_Allocator->m_Alloc(
                s_Writer.m_Allocator, static_cast<uint32_t>(sizeof(SProfilerKitCapture)), 64);
            if (memory == nullptr)
            {
                std::fclose(file);
                return false;
            }
            std::memset(memory, 0, sizeof(SProfilerKitCapture));
            s_Writer.m_Capture = static_cast<SProfilerKitCapture*>(memory);
            s_Writer.m_Capture->m_RingLength = s_Writer.m_RingLength;
            s_Writer.m_Capture->m_EventLock = ThreadMutexCreate();
            std::atomic_ref<SProfilerKitCapture*>(header->m_Capture)
                .store(s_Writer.m_Capture, std::memory_order_release);
        }
        // Rings for the threads there are; ProfilerKitCaptureThreadCreated gives later
        // threads theirs, under this lock too.
        SProfilerKitCapture& capture = *s_Writer.m_Capture;
        const int32_t count =
            std::atomic_ref<int32_t>(context->m_NumThreads).load(std::memory_order_acquire);
        for (int32_t t = 0; t < count; ++t)
            ProfilerKitCaptureThreadCreated(static_cast<uint32_t>(t));
        // What earlier captures left in the rings stays out of this one.
        for (SProfilerKitCaptureThread& slot : capture.m_Threads)
        {
            std::atomic_ref<uint64_t>(slot.m_Tail)
                .store(ProfilerKitLoad(slot.m_Head), std::memory_order_release);
            std::atomic_ref<uint64_t>(slot.m_DroppedAtStart)
                .store(ProfilerKitLoad(slot.m_Dropped), std::memory_order_relaxed);
        }
        {
            CScopedMutexLock events(capture.m_EventLock);
            capture.m_EventTail = capture.m_EventHead;
            capture.m_EventDroppedAtStart = capture.m_EventDropped;
        }
        s_Writer.m_StartTicks = static_cast<uint64_t>(GetCounterTicks());
        capture.m_StartTicks = s_Writer.m_StartTicks;
    }

    s_Writer.m_File = file;
    s_Writer.m_Params = p;
    s_Writer.m_Buffer.assign(WRITE_AT + EVENT_ROOM + PROFILER_KIT_EVENT_TEXT * 8, '\0');
    s_Writer.m_Used = 0;
    s_Writer.m_First = true;
    s_Writer.m_Bytes = sizeof(s_Begin) - 1;
    s_Writer.m_Events = 0;
    s_Writer.m_BusyTicks = 0;
    s_Writer.m_Failed = false;
    s_Writer.m_Stop.store(false);
    s_Writer.m_Pid = ProfilerKitOsProcessId();
    s_Writer.m_NsPerTick = 1.0e9 / static_cast<double>(GetCounterFrequency());
    s_Writer.m_ThreadsNamed = 0;
    s_Writer.m_Names.clear();
    s_Writer.m_Thresholds.clear();
    std::memset(s_Writer.m_DropsMarked, 0, sizeof(s_Writer.m_DropsMarked));
    RefreshNames();

    LogSetTap(&ProfilerKitCaptureLogTap);
    std::atomic_ref<uint32_t>(s_Writer.m_Capture->m_Active).store(1, std::memory_order_release);
    s_Writer.m_Thread = ThreadCreate("Profiler capture", &WriterMain, nullptr, 0);
    s_Writer.m_Open = true;
    if (!s_ExitHookInstalled)
        s_ExitHookInstalled = std::atexit(&StopAtExit) == 0;
    return true;
}

void ProfilerKitCaptureLogTap(ELogSeverity severity, const char* channel, const char* text)
{
    ProfilerKitPushEvent(E_PROFILER_KIT_EVENT_LOG, channel, text, 0, severity);
}

bool ProfilerKitCaptureStop()
{
    if (!s_Writer.m_Open)
        return false;
    LogSetTap(nullptr);
    std::atomic_ref<uint32_t>(s_Writer.m_Capture->m_Active).store(0, std::memory_order_release);
    s_Writer.m_Stop.store(true, std::memory_order_release);
    ThreadDestroy(s_Writer.m_Thread); // joins: the writer completes the file first
    s_Writer.m_Thread = nullptr;
    s_Writer.m_Open = false;
    const bool written = !s_Writer.m_Failed && std::fflush(s_Writer.m_File) == 0 &&
                         std::ferror(s_Writer.m_File) == 0;
    const bool closed = std::fclose(s_Writer.m_File) == 0;
    s_Writer.m_File = nullptr;
    return written && closed;
}

bool ProfilerKitCaptureResult(SProfilerKitCaptureResult* result)
{
    if (result == nullptr || s_Writer.m_Capture == nullptr || s_Writer.m_Open)
        return false;
    SProfilerKitCapture& capture = *s_Writer.m_Capture;
    result->m_Events = s_Writer.m_Events;
    result->m_Bytes = s_Writer.m_Bytes;
    result->m_DroppedCalls = 0;
    for (const SProfilerKitCaptureThread& slot : capture.m_Threads)
        result->m_DroppedCalls +=
            ProfilerKitLoad(slot.m_Dropped) - ProfilerKitLoad(slot.m_DroppedAtStart);
    CScopedMutexLock hold(capture.m_EventLock); // a late event may still count itself
    result->m_DroppedEvents = capture.m_EventDropped - capture.m_EventDroppedAtStart;
    result->m_WriterBusySeconds =
        static_cast<double>(s_Writer.m_BusyTicks) / static_cast<double>(GetCounterFrequency());
    return true;
}
