// The report: readable tables of threads, modules, scopes and the timing per scope over
// all threads, and the snapshots of the shared record that the report and the trace read
// while profiled threads go on writing. Portable.
#include <algorithm>
#include <atomic>
#include <cinttypes>

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
    for (int32_t i = 0; i < count; ++i)
    {
        const SProfilerScope& scope = context->m_Scopes[i];
        snapshot->m_Scopes.push_back({scope.m_Name != nullptr ? scope.m_Name : "(unloaded)",
                                      scope.m_NameHash, scope.m_ThresholdTicks});
    }
    snapshot->m_RingLength = ProfilerKitHeader(context)->m_RingLength;
    snapshot->m_NumThreads =
        std::atomic_ref<int32_t>(context->m_NumThreads).load(std::memory_order_acquire);
    return true;
}

// Copies entries [count - kept, count) of a ring that its writer may overwrite meanwhile,
// then drops those whose slot the writer may have begun to reuse: a reader that saw any
// store of call k + length also sees at least k + length + 1 calls begun.
template <typename T, typename Copy>
static void CopyRing(const uint32_t& written, const uint32_t& begun, uint32_t length,
                     std::vector<T>* out, Copy copy)
{
    const uint32_t count =
        std::atomic_ref<uint32_t>(const_cast<uint32_t&>(written)).load(std::memory_order_acquire);
    const uint32_t kept = std::min(count, length);
    std::vector<T> copied(kept);
    for (uint32_t k = 0; k < kept; ++k)
        copied[k] = copy((count - kept + k) & (length - 1));
    std::atomic_thread_fence(std::memory_order_acquire);
    const uint32_t after = ProfilerKitLoad(begun);
    out->clear();
    for (uint32_t k = 0; k < kept; ++k)
        if (after - (count - kept + k) <= length)
            out->push_back(copied[k]);
}

void ProfilerKitCopyRing(const SProfilerThread& thread, uint32_t ringLength,
                         std::vector<SProfilerKitRingEntry>* entries)
{
    const SProfilerKitRingEntry* ring = static_cast<SProfilerKitRingEntry*>(thread.m_ThreadEntries);
    CopyRing(thread.m_ClientWord0, thread.m_ClientWord1, ringLength, entries,
             [ring](uint32_t slot) {
                 return SProfilerKitRingEntry{ProfilerKitLoad(ring[slot].m_StartTicks),
                                              ProfilerKitLoad(ring[slot].m_DurationTicks),
                                              ProfilerKitLoad(ring[slot].m_ScopeIndex)};
             });
}

void ProfilerKitCopyFrames(SProfilerContext* context, std::vector<uint64_t>* ticks)
{
    const SProfilerKitHeader* header = ProfilerKitHeader(context);
    CopyRing(header->m_FrameCount, header->m_FramesBegun, PROFILER_KIT_FRAME_MARKS, ticks,
             [header](uint32_t slot) { return ProfilerKitLoad(header->m_FrameTicks[slot]); });
}

namespace
{

struct STiming
{
    int32_t m_Index;
    uint64_t m_Calls;
    uint64_t m_TotalTicks;
    uint32_t m_LongestTicks;
    uint64_t m_OverThreshold;
};

// Records of a module up to its end or its first null name, as the library walks them.
int32_t CountRecords(const SProfilerModule& module)
{
    int32_t count = 0;
    for (const SProfilerStaticScope* record = module.m_Begin;
         record < module.m_End && record->m_Name != nullptr; ++record)
        ++count;
    return count;
}

} // namespace

bool ProfilerKitReport(FILE* stream)
{
    SProfilerKitSnapshot snapshot;
    if (stream == nullptr || !ProfilerKitTakeSnapshot(&snapshot))
        return false;
    SProfilerContext* context = GetProfiler();
    const double frequency = static_cast<double>(GetCounterFrequency());
    const double toMs = 1000.0 / frequency;
    const double toUs = 1000000.0 / frequency;

    std::fprintf(stream, "Counter: %s, %" PRIu64 " Hz\n\n", GetCounterName(),
                 GetCounterFrequency());
    std::fprintf(stream, "Threads: %d\n   id  name\n", static_cast<int>(snapshot.m_NumThreads));
    for (int32_t t = 0; t < snapshot.m_NumThreads; ++t)
        std::fprintf(stream, "%5d  %s\n", static_cast<int>(t + context->m_FirstThreadID),
                     context->m_Threads[t].m_Name);

    const int32_t modules = context->m_ProfilerNumLoadedModules;
    std::fprintf(stream, "\nModules: %d\n    #  records  first scope\n", static_cast<int>(modules));
    for (int32_t m = 0; m < modules; ++m)
    {
        const SProfilerModule& module = context->m_ProfilerLoadedProfilerModules[m];
        const int32_t records = CountRecords(module);
        std::fprintf(stream, "%5d  %7d  %s\n", static_cast<int>(m), static_cast<int>(records),
                     records > 0 ? module.m_Begin->m_Name : "");
    }

    std::fprintf(stream,
                 "\nScopes: %d of %d\n"
                 "index  hash        threshold ms  threshold ticks  name\n",
                 static_cast<int>(snapshot.m_Scopes.size()),
                 static_cast<int>(context->m_NumScopeEntries));
    for (size_t i = 0; i < snapshot.m_Scopes.size(); ++i)
    {
        const SProfilerKitScopeCopy& scope = snapshot.m_Scopes[i];
        std::fprintf(stream, "%5d  0x%08" PRIx32 "  %12.3f  %15" PRIu32 "  %s\n",
                     static_cast<int>(i), scope.m_NameHash, scope.m_ThresholdTicks * toMs,
                     scope.m_ThresholdTicks, scope.m_Name.c_str());
    }

    std::vector<STiming> timings;
    for (size_t i = 0; i < snapshot.m_Scopes.size(); ++i)
        timings.push_back({static_cast<int32_t>(i), 0, 0, 0, 0});
    for (int32_t t = 0; t < snapshot.m_NumThreads; ++t)
    {
        const SProfilerThread& thread = context->m_Threads[t];
        const SProfilerKitScopeEntry* entries =
            static_cast<SProfilerKitScopeEntry*>(thread.m_ScopeEntries);
        const uint32_t* over = ProfilerKitOverThreshold(thread, snapshot.m_RingLength);
        for (STiming& timing : timings)
        {
            const SProfilerKitScopeEntry& entry = entries[timing.m_Index];
            timing.m_Calls += ProfilerKitLoad(entry.m_Calls);
            timing.m_TotalTicks += ProfilerKitLoad(entry.m_TotalTicks);
            timing.m_LongestTicks =
                std::max(timing.m_LongestTicks, ProfilerKitLoad(entry.m_LongestTicks));
            timing.m_OverThreshold += ProfilerKitLoad(over[timing.m_Index]);
        }
    }
    std::stable_sort(timings.begin(), timings.end(), [](const STiming& a, const STiming& b) {
        return a.m_TotalTicks > b.m_TotalTicks;
    });
    std::fprintf(stream, "\nTiming over all threads, by total time\n"
                         "     calls      total ms       mean us    longest us  over threshold  "
                         "name\n");
    for (const STiming& timing : timings)
    {
        if (timing.m_Calls == 0)
            continue;
        std::fprintf(stream, "%10" PRIu64 "  %12.3f  %12.3f  %12.3f  %14" PRIu64 "  %s\n",
                     timing.m_Calls, static_cast<double>(timing.m_TotalTicks) * toMs,
                     static_cast<double>(timing.m_TotalTicks) * toUs /
                         static_cast<double>(timing.m_Calls),
                     timing.m_LongestTicks * toUs, timing.m_OverThreshold,
                     snapshot.m_Scopes[timing.m_Index].m_Name.c_str());
    }

    std::vector<uint64_t> frames;
    ProfilerKitCopyFrames(context, &frames);
    const uint32_t marked = ProfilerKitLoad(ProfilerKitHeader(context)->m_FrameCount);
    std::fprintf(stream, "\nFrames: %" PRIu32 " marked", marked);
    if (frames.size() >= 2)
    {
        uint64_t longest = 0;
        for (size_t i = 1; i < frames.size(); ++i)
            longest = std::max(longest, frames[i] - frames[i - 1]);
        std::fprintf(stream, ", last %d frames: mean %.3f ms, longest %.3f ms",
                     static_cast<int>(frames.size() - 1),
                     static_cast<double>(frames.back() - frames.front()) * toMs /
                         static_cast<double>(frames.size() - 1),
                     static_cast<double>(longest) * toMs);
    }
    std::fprintf(stream, "\n");
    std::fflush(stream);
    return true;
}
