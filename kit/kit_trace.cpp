// The trace export: every thread's recorded calls as complete events and the frame marks
// as global instant events, in the Chrome trace-event JSON format that Perfetto and the
// browsers' tracing viewers open; and a name's JSON form, which the capture writes too.
// Portable.
#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>

#include "common/debug/utf8.h"
#include "kit/kit_private.h"
#include "kit/profilerkit.h"

namespace
{

struct SEvent
{
    uint64_t m_Start;
    uint64_t m_Duration;
    int32_t m_Scope;
    uint32_t m_Thread;
};

// Numbers the temporary files of traces written at the same time.
std::atomic<uint32_t> s_TraceFiles{0};

void WriteJsonString(FILE* file, const char* text)
{
    std::string json;
    ProfilerKitJsonString(&json, text);
    std::fwrite(json.data(), 1, json.size(), file);
}

} // namespace

// Names come from scope literals and from the OS, in any bytes: each ill-formed piece is
// written as U+FFFD, so the file stays valid UTF-8 whatever a name holds.
void ProfilerKitJsonString(std::string* out, const char* text)
{
    out->push_back('"');
    for (SUtf8Step step; (step = Utf8Step(text)).m_Length != 0; text += step.m_Length)
    {
        const unsigned char c = static_cast<unsigned char>(*text);
        if (!step.m_Valid)
            *out += "\\ufffd";
        else if (c == '"' || c == '\\')
            *out += {'\\', static_cast<char>(c)};
        else if (c < 0x20)
        {
            char escape[8] = "\\u00";
            escape[4] = "0123456789abcdef"[c >> 4];
            escape[5] = "0123456789abcdef"[c & 15];
            out->append(escape, 6);
        }
        else
            out->append(text, step.m_Length);
    }
    out->push_back('"');
}

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
        ProfilerKitCopyRing(context->m_Threads[t], *snapshot.m_Header, &ring);
        const uint32_t id = static_cast<uint32_t>(t + context->m_FirstThreadID);
        for (const SProfilerKitRingEntry& entry : ring)
        {
            const uint64_t scope = entry.m_Packed >> PROFILER_KIT_DURATION_BITS;
            if (scope < snapshot.m_Scopes.size())
                events.push_back({entry.m_StartTicks, entry.m_Packed & PROFILER_KIT_MAX_DURATION,
                                  static_cast<int32_t>(scope), id});
        }
    }
    std::vector<uint64_t> frames;
    ProfilerKitCopyFrames(*snapshot.m_Header, &frames);

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
    // Viewers need the calls of a thread to nest: a call never ends after the call that
    // encloses it, even where a duration beyond the ring's field was cut short.
    std::vector<uint64_t> open; // ends of the enclosing calls, innermost last
    for (size_t i = 0; i < events.size(); ++i)
    {
        SEvent& event = events[i];
        if (i > 0 && events[i - 1].m_Thread != event.m_Thread)
            open.clear();
        while (!open.empty() && open.back() <= event.m_Start)
            open.pop_back();
        if (!open.empty() && event.m_Start + event.m_Duration > open.back())
            event.m_Duration = open.back() - event.m_Start;
        open.push_back(event.m_Start + event.m_Duration);
    }

    // Written beside the path and renamed into place: a failed write leaves the previous
    // trace as it was.
    const std::string temporary = std::string(path) + "." +
                                  std::to_string(ProfilerKitOsProcessId()) + "." +
                                  std::to_string(s_TraceFiles.fetch_add(1)) + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr)
        return false;
    const double toUs = 1000000.0 / static_cast<double>(GetCounterFrequency());
    const uint32_t pid = ProfilerKitOsProcessId();
    char number[2][32];
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
        // Both ends rounded to the printed thousandths, and the duration taken between them:
        // rounding keeps order, so calls that nest in ticks still nest as printed.
        const double start = std::round(static_cast<double>(event.m_Start - base) * toUs * 1e3);
        const double end =
            std::round(static_cast<double>(event.m_Start + event.m_Duration - base) * toUs * 1e3);
        std::fprintf(file,
                     ",\"ph\":\"X\",\"ts\":%s,\"dur\":%s,\"pid\":%" PRIu32 ",\"tid\":%" PRIu32 "}",
                     ProfilerKitFixed3(start / 1e3, number[0]),
                     ProfilerKitFixed3((end - start) / 1e3, number[1]), pid, event.m_Thread);
        separator = ",\n";
    }
    for (uint64_t frame : frames)
    {
        std::fprintf(file,
                     "%s{\"name\":\"Frame\",\"ph\":\"i\",\"s\":\"g\",\"ts\":%s,\"pid\":%" PRIu32
                     ",\"tid\":0}",
                     separator,
                     ProfilerKitFixed3(static_cast<double>(frame - base) * toUs, number[0]), pid);
        separator = ",\n";
    }
    std::fprintf(file,
                 "\n],\"displayTimeUnit\":\"ms\",\"otherData\":{\"unrecordedThreads\":%" PRIu64
                 ",\"unrecordedCalls\":%" PRIu64 "}}\n",
                 snapshot.m_UnattachedThreads, snapshot.m_UnattachedCalls);
    const bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !written || !ProfilerKitOsReplaceFile(temporary.c_str(), path))
    {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
