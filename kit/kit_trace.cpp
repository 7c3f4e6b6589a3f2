// The trace export: every thread's recorded calls as complete events and the frame marks
// as global instant events, in the Chrome trace-event JSON format that Perfetto and the
// browsers' tracing viewers open. Portable.
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "common/debug/utf8.h"
#include "kit/kit_private.h"
#include "kit/profilerkit.h"

namespace
{

struct SEvent
{
    uint64_t m_Start;
    uint32_t m_Duration;
    int32_t m_Scope;
    uint32_t m_Thread;
};

// Names come from scope literals and from the OS, in any bytes: each ill-formed piece is
// written as U+FFFD, so the file stays valid UTF-8 whatever a name holds.
void WriteJsonString(FILE* file, const char* text)
{
    std::fputc('"', file);
    for (SUtf8Step step; (step = Utf8Step(text)).m_Length != 0; text += step.m_Length)
    {
        const unsigned char c = static_cast<unsigned char>(*text);
        if (!step.m_Valid)
            std::fputs("\\ufffd", file);
        else if (c == '"' || c == '\\')
            std::fprintf(file, "\\%c", c);
        else if (c < 0x20)
            std::fprintf(file, "\\u%04x", c);
        else
            std::fwrite(text, 1, step.m_Length, file);
    }
    std::fputc('"', file);
}

} // namespace

bool ProfilerKitWriteTrace(const char* path)
{
    SProfilerKitSnapshot snapshot;
    if (path == nullptr || !ProfilerKitTakeSnapshot(&snapshot))
        return false;
    SProfilerContext* context = GetProfiler();

    std::vector<SEvent> events;
    std::vector<SProfilerKitRingEntry> ring;
    for (int32_t t = 0; t < snapshot.m_NumThreads; ++t)
    {
        ProfilerKitCopyRing(context->m_Threads[t], snapshot.m_RingLength, &ring);
        const uint32_t id = static_cast<uint32_t>(t + context->m_FirstThreadID);
        for (const SProfilerKitRingEntry& entry : ring)
            if (entry.m_ScopeIndex >= 0 &&
                static_cast<size_t>(entry.m_ScopeIndex) < snapshot.m_Scopes.size())
                events.push_back(
                    {entry.m_StartTicks, entry.m_DurationTicks, entry.m_ScopeIndex, id});
    }
    std::vector<uint64_t> frames;
    ProfilerKitCopyFrames(context, &frames);

    // Times count from the earliest event, so the numbers stay short and exact.
    uint64_t base = UINT64_MAX;
    for (const SEvent& event : events)
        base = std::min(base, event.m_Start);
    for (uint64_t frame : frames)
        base = std::min(base, frame);
    // Per thread by start; an enclosing call (longer, same start) before what it encloses.
    std::sort(events.begin(), events.end(), [](const SEvent& a, const SEvent& b) {
        if (a.m_Thread != b.m_Thread)
            return a.m_Thread < b.m_Thread;
        if (a.m_Start != b.m_Start)
            return a.m_Start < b.m_Start;
        return a.m_Duration > b.m_Duration;
    });

    FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    const double toUs = 1000000.0 / static_cast<double>(GetCounterFrequency());
    const uint32_t pid = ProfilerKitOsProcessId();
    std::fprintf(file, "{\"traceEvents\":[\n");
    const char* separator = "";
    for (int32_t t = 0; t < snapshot.m_NumThreads; ++t)
    {
        std::fprintf(file,
                     "%s{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":%" PRIu32
                     ",\"tid\":%d,\"args\":{\"name\":",
                     separator, pid, static_cast<int>(t + context->m_FirstThreadID));
        WriteJsonString(file, context->m_Threads[t].m_Name);
        std::fprintf(file, "}}");
        separator = ",\n";
    }
    for (const SEvent& event : events)
    {
        std::fprintf(file, "%s{\"name\":", separator);
        WriteJsonString(file, snapshot.m_Scopes[static_cast<size_t>(event.m_Scope)].m_Name.c_str());
        std::fprintf(
            file, ",\"ph\":\"X\",\"ts\":%.3f,\"dur\":%.3f,\"pid\":%" PRIu32 ",\"tid\":%" PRIu32 "}",
            static_cast<double>(event.m_Start - base) * toUs, event.m_Duration * toUs, pid,
            event.m_Thread);
        separator = ",\n";
    }
    for (uint64_t frame : frames)
    {
        std::fprintf(file,
                     "%s{\"name\":\"Frame\",\"ph\":\"i\",\"s\":\"g\",\"ts\":%.3f,\"pid\":%" PRIu32
                     ",\"tid\":0}",
                     separator, static_cast<double>(frame - base) * toUs, pid);
        separator = ",\n";
    }
    std::fprintf(file, "\n],\"displayTimeUnit\":\"ms\"}\n");
    const bool written = std::ferror(file) == 0;
    return std::fclose(file) == 0 && written;
}
