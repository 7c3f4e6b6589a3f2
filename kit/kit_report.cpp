// The report: readable tables of threads, modules, scopes and the timing per scope over
// all threads, and the snapshots of the shared record that the report and the trace read
// while profiled threads go on writing. Portable.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cinttypes>
#include <cmath>

#include "common/thread/mutex.h"
#include "kit/kit_private.h"
#include "kit/profilerkit.h"

bool ProfilerKitTakeSnapshot(SProfilerKitSnapshot* snapshot)
{
    SProfilerContext* context = GetProfiler();
    ThreadMutex* lock =
        std::atomic_ref<ThreadMutex*>(context->m_BigLock).load(std::memory_order_acquire);
    if (lock == nullptr || !ProfilerKitHeaderMatches(context))
        return false;
    // Names change under the lock when a call site registers a known name again.
    CScopedMutexLock hold(lock);
    const int32_t count =
        std::atomic_ref<int32_t>(context->m_NumScopes).load(std::memory_order_acquire);
    snapshot->m_Scopes.clear();
    std::string name;
    for (int32_t i = 0; i < count; ++i)
    {
        // The owner's copies outlive their modules; a descriptor that another client
        // registered directly keeps only the library's pointer.
        const SProfilerScope& scope = context->m_Scopes[i];
        if (!ProfilerKitScopeText(context, i, &name))
            name = scope.m_Name != nullptr ? scope.m_Name : "(unloaded)";
        snapshot->m_Scopes.push_back({name, scope.m_NameHash, scope.m_ThresholdTicks});
    }
    // The module table changes under m_BigLock when kit modules load and unload.
    snapshot->m_Modules.clear();
    // A kit module's entry is an empty array whose begin record carries the module's file
    // name; another client's entry is its array of records.
    for (int32_t m = 0; m < context->m_ProfilerNumLoadedModules; ++m)
    {
        const SProfilerModule& module = context->m_ProfilerLoadedProfilerModules[m];
        snapshot->m_Modules.push_back(module.m_Begin != module.m_End
                                          ? std::to_string(module.m_End - module.m_Begin) +
                                                " records registered by another client"
                                      : module.m_Begin->m_Name != nullptr ? module.m_Begin->m_Name
                                                                          : "?");
    }
    const SProfilerKitHeader* header = ProfilerKitHeader(context);
    snapshot->m_Header = header;
    snapshot->m_NumThreads =
        std::atomic_ref<int32_t>(context->m_NumThreads).load(std::memory_order_acquire);
    snapshot->m_UnattachedThreads = ProfilerKitLoad(header->m_UnattachedThreads);
    snapshot->m_UnattachedCalls = ProfilerKitLoad(header->m_UnattachedCalls);
    return true;
}

// Copies entries [count - kept, count) of a ring that its writer may overwrite meanwhile,
// then drops those whose slot the writer may have begun to reuse: a reader that saw any
// store of call k + length also sees at least k + length + 1 calls begun. The counts are
// 64-bit and never wrap.
void ProfilerKitCopyRing(const SProfilerThread& thread, const SProfilerKitHeader& header,
                         std::vector<SProfilerKitRingEntry>* entries)
{
    const SProfilerKitRingHeader& counts = *ProfilerKitRingHeader(thread);
    const SProfilerKitRingEntry* ring = ProfilerKitRing(thread, header);
    const uint64_t length = header.m_RingLength;
    const uint64_t count = std::atomic_ref<uint64_t>(const_cast<uint64_t&>(counts.m_Written))
                               .load(std::memory_order_acquire);
    const uint32_t kept = static_cast<uint32_t>(std::min(count, length));
    std::vector<SProfilerKitRingEntry> copied(kept);
    for (uint32_t k = 0; k < kept; ++k)
    {
        const SProfilerKitRingEntry& slot = ring[(count - kept + k) & (length - 1)];
        copied[k] = {ProfilerKitLoad(slot.m_StartTicks), ProfilerKitLoad(slot.m_Packed)};
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    const uint64_t after = ProfilerKitLoad(counts.m_Begun);
    entries->clear();
    for (uint32_t k = 0; k < kept; ++k)
        if (after - (count - kept + k) <= length)
            entries->push_back(copied[k]);
}

void ProfilerKitCopyFrames(const SProfilerKitHeader& header, std::vector<uint64_t>* ticks)
{
    const uint64_t begun = std::atomic_ref<uint64_t>(const_cast<uint64_t&>(header.m_FramesBegun))
                               .load(std::memory_order_acquire);
    ticks->clear();
    for (uint64_t n = begun > PROFILER_KIT_FRAME_MARKS ? begun - PROFILER_KIT_FRAME_MARKS : 0;
         n < begun; ++n)
    {
        // A slot counts when its sequence names this mark before and after the copy.
        const SProfilerKitFrameMark& slot = header.m_Frames[n & (PROFILER_KIT_FRAME_MARKS - 1)];
        const uint64_t before = std::atomic_ref<uint64_t>(const_cast<uint64_t&>(slot.m_Sequence))
                                    .load(std::memory_order_acquire);
        const uint64_t value = ProfilerKitLoad(slot.m_Ticks);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (before == n + 1 && ProfilerKitLoad(slot.m_Sequence) == n + 1)
            ticks->push_back(value);
    }
    // Marks of several threads may take their numbers in another order than their ticks.
    std::sort(ticks->begin(), ticks->end());
}

const char* ProfilerKitFixed3(double value, char (&buffer)[32])
{
    const std::to_chars_result result =
        std::isfinite(value)
            ? std::to_chars(buffer, buffer + sizeof(buffer) - 1, value, std::chars_format::fixed, 3)
            : std::to_chars_result{buffer, std::errc::value_too_large};
    char* end = result.ec == std::errc() ? result.ptr : buffer;
    if (end == buffer)
        *end++ = '?';
    *end = '\0';
    return buffer;
}

namespace
{

struct STiming
{
    int32_t m_Index;
    uint64_t m_Calls;
    uint64_t m_TotalTicks;
    uint64_t m_LongestTicks;
    uint64_t m_OverThreshold;
};

} // namespace

bool ProfilerKitReport(FILE* stream)
{
    SProfilerKitSnapshot snapshot;
    if (stream == nullptr || !ProfilerKitTakeSnapshot(&snapshot))
        return false;
    SProfilerContext* context = GetProfiler();
    const SProfilerKitHeader& header = *snapshot.m_Header;
    const double frequency = static_cast<double>(GetCounterFrequency());
    const double toMs = 1000.0 / frequency;
    const double toUs = 1000000.0 / frequency;
    char number[4][32];

    std::fprintf(stream, "Counter: %s, %" PRIu64 " Hz\n\n", GetCounterName(),
                 GetCounterFrequency());
    std::fprintf(stream, "Threads: %d\n   id  name\n", static_cast<int>(snapshot.m_NumThreads));
    for (int32_t t = 0; t < snapshot.m_NumThreads; ++t)
        std::fprintf(stream, "%5d  %s\n", static_cast<int>(t + context->m_FirstThreadID),
                     context->m_Threads[t].m_Name);
    std::fprintf(stream,
                 "Not recorded: %" PRIu64 " threads without a thread record, %" PRIu64 " calls\n",
                 snapshot.m_UnattachedThreads, snapshot.m_UnattachedCalls);

    const uint32_t leftOut = ProfilerKitLoad(ProfilerKitHeader(context)->m_ModulesLeftOut);
    std::fprintf(stream, "\nModules: %d", static_cast<int>(snapshot.m_Modules.size()));
    if (leftOut > 0)
        std::fprintf(stream, ", %" PRIu32 " more left out (the table holds %d)", leftOut,
                     static_cast<int>(PROFILER_MAX_MODULES));
    std::fprintf(stream, "\n    #  file\n");
    for (size_t m = 0; m < snapshot.m_Modules.size(); ++m)
        std::fprintf(stream, "%5d  %s\n", static_cast<int>(m), snapshot.m_Modules[m].c_str());

    // A threshold at the tick field's largest value was saturated there: marked with '+'.
    std::fprintf(stream,
                 "\nScopes: %d of %d (+: threshold saturated at the tick field's range)\n"
                 "index  hash        threshold ms  threshold ticks  name\n",
                 static_cast<int>(snapshot.m_Scopes.size()),
                 static_cast<int>(context->m_NumScopeEntries));
    for (size_t i = 0; i < snapshot.m_Scopes.size(); ++i)
    {
        const SProfilerKitScopeCopy& scope = snapshot.m_Scopes[i];
        const bool saturated = scope.m_ThresholdTicks == UINT32_MAX;
        std::fprintf(stream, "%5d  0x%08" PRIx32 "  %11s%c  %15" PRIu32 "  %s\n",
                     static_cast<int>(i), scope.m_NameHash,
                     ProfilerKitFixed3(scope.m_ThresholdTicks * toMs, number[0]),
                     saturated ? '+' : ' ', scope.m_ThresholdTicks, scope.m_Name.c_str());
    }

    std::vector<STiming> timings;
    for (size_t i = 0; i < snapshot.m_Scopes.size(); ++i)
        timings.push_back({static_cast<int32_t>(i), 0, 0, 0, 0});
    for (int32_t t = 0; t < snapshot.m_NumThreads; ++t)
    {
        const SProfilerThread& thread = context->m_Threads[t];
        const SProfilerKitScopeEntry* entries =
            static_cast<SProfilerKitScopeEntry*>(thread.m_ScopeEntries);
        const SProfilerKitScopeCounters* counters = ProfilerKitCounters(thread, header);
        for (STiming& timing : timings)
        {
            // The total first: what its writer stored before it (the longest call) is then
            // seen too.
            const SProfilerKitScopeEntry& entry = entries[timing.m_Index];
            timing.m_TotalTicks +=
                std::atomic_ref<uint64_t>(const_cast<uint64_t&>(entry.m_TotalTicks))
                    .load(std::memory_order_acquire);
            timing.m_Calls += ProfilerKitLoad(entry.m_Calls);
            timing.m_LongestTicks = std::max(
                timing.m_LongestTicks, ProfilerKitLoad(counters[timing.m_Index].m_LongestTicks));
            timing.m_OverThreshold += ProfilerKitLoad(counters[timing.m_Index].m_OverThreshold);
        }
    }
    std::stable_sort(timings.begin(), timings.end(), [](const STiming& a, const STiming& b) {
        return a.m_TotalTicks > b.m_TotalTicks;
    });
    // A recursive scope's total counts each moment once: the time some call of it ran.
    std::fprintf(stream, "\nTiming over all threads, by total time (recursion counted once)\n"
                         "     calls      total ms       mean us    longest us  over threshold  "
                         "name\n");
    for (const STiming& timing : timings)
    {
        if (timing.m_Calls == 0)
            continue;
        std::fprintf(
            stream, "%10" PRIu64 "  %12s  %12s  %12s  %14" PRIu64 "  %s\n", timing.m_Calls,
            ProfilerKitFixed3(static_cast<double>(timing.m_TotalTicks) * toMs, number[0]),
            ProfilerKitFixed3(static_cast<double>(timing.m_TotalTicks) * toUs /
                                  static_cast<double>(timing.m_Calls),
                              number[1]),
            ProfilerKitFixed3(static_cast<double>(timing.m_LongestTicks) * toUs, number[2]),
            timing.m_OverThreshold, snapshot.m_Scopes[timing.m_Index].m_Name.c_str());
    }

    std::vector<uint64_t> frames;
    ProfilerKitCopyFrames(header, &frames);
    std::fprintf(stream, "\nFrames: %" PRIu64 " marked", ProfilerKitLoad(header.m_FramesBegun));
    if (frames.size() >= 2)
    {
        uint64_t longest = 0;
        for (size_t i = 1; i < frames.size(); ++i)
            longest = std::max(longest, frames[i] - frames[i - 1]);
        std::fprintf(stream, ", last %d frames: mean %s ms, longest %s ms",
                     static_cast<int>(frames.size() - 1),
                     ProfilerKitFixed3(static_cast<double>(frames.back() - frames.front()) * toMs /
                                           static_cast<double>(frames.size() - 1),
                                       number[0]),
                     ProfilerKitFixed3(static_cast<double>(longest) * toMs, number[1]));
    }
    std::fprintf(stream, "\n");
    // The running or last capture's losses: calls per thread, other events in all.
    const SProfilerKitCapture* capture =
        std::atomic_ref<SProfilerKitCapture*>(const_cast<SProfilerKitCapture*&>(header.m_Capture))
            .load(std::memory_order_acquire);
    if (capture != nullptr)
    {
        uint64_t dropped = 0;
        std::fprintf(stream, "\nCapture drops (the running or last capture):");
        for (int32_t t = 0; t < snapshot.m_NumThreads; ++t)
        {
            const SProfilerKitCaptureThread& slot = capture->m_Threads[t];
            const uint64_t calls =
                ProfilerKitLoad(slot.m_Dropped) - ProfilerKitLoad(slot.m_DroppedAtStart);
            dropped += calls;
            if (calls != 0)
                std::fprintf(stream, " thread %d: %" PRIu64 " calls,",
                             static_cast<int>(t + context->m_FirstThreadID), calls);
        }
        CScopedMutexLock hold(capture->m_EventLock);
        std::fprintf(stream, " %" PRIu64 " calls, %" PRIu64 " other events in all\n", dropped,
                     capture->m_EventDropped - capture->m_EventDroppedAtStart);
    }
    // Every write went through the stream's buffer: one error flag and the flush tell.
    const bool flushed = std::fflush(stream) == 0;
    return flushed && std::ferror(stream) == 0;
}
