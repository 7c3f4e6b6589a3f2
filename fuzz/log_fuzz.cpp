// Fuzz target for the log: input-driven writes, settings, channel thresholds (with failing
// allocations), filters, indentation, a callback that also writes, and writes outside
// LogInit/LogShutdown, through two memory streams. A model of the line layout predicts
// every byte of both streams and every callback; all log memory must be back after each
// shutdown. Linux (memory streams).
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/debug/log_context.h"
#include "common/time/counter.h"
#include "fuzz_input.h"

namespace
{

// Counts blocks; fails the allocation after a countdown and remembers that it did.
int g_Live = 0, g_FailIn = -1;
bool g_Failed = false;
SAllocator g_Allocator = {[](SAllocator*, uint32_t size, uint32_t alignment) -> void* {
                              if (g_FailIn >= 0 && g_FailIn-- == 0)
                                  return g_Failed = true, nullptr;
                              ++g_Live;
                              return std::aligned_alloc(alignment, (size + alignment - 1) &
                                                                       ~size_t(alignment - 1));
                          },
                          [](SAllocator*, void* block) { --g_Live, std::free(block); }};

struct SExpectedCall
{
    int m_Severity;
    std::string m_Channel, m_File, m_Text;
    bool m_Passed;
    uint32_t m_Line, m_Indentation;
    int64_t m_ElapsedMs;
};

// The model of the log's state and of what it must have written.
struct SModel
{
    bool m_Initialized = false;
    SLogOutput m_Outputs[2];
    std::string m_Written[2];
    std::map<std::string, int> m_Channels;
    std::string m_Filters[2]; // file, channel
    int m_Modes[2] = {0, 0};
    uintptr_t m_Level = 0;
    int64_t m_ElapsedMs = 0, m_Now = 0;
    bool m_Callback = false, m_CallbackWrites = false;
    std::deque<SExpectedCall> m_Calls, m_Forwarded;
    std::string m_TruncationFile; // where the log reports a cut filter
    uint32_t m_TruncationLine = 0;
};
SModel g_Model;
FILE* g_Streams[2];
char* g_Buffers[2];
size_t g_Sizes[2];
int g_CallbackDepth = 0;

bool Contains(const std::string& subject, const std::string& text, int mode)
{
    const bool found = subject.find(text) != std::string::npos;
    return mode == 0 ? found : mode == 1 ? !found : true;
}

std::string Format(const char* format, ...)
{
    char buffer[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

void Expect(int severity, const std::string& channel, const std::string& file, uint32_t line,
            const std::string& fullText, int depth);

// What one write must produce, then the write itself.
void Write(int severity, const std::string& channel, const std::string& file, uint32_t line,
           const std::string& text)
{
    Expect(severity, channel, file, line, text, 0);
    LogWrite(ELogSeverity(severity), channel.c_str(), file.c_str(), line, "%s", text.c_str());
}

void Expect(int severity, const std::string& channel, const std::string& file, uint32_t line,
            const std::string& fullText, int depth)
{
    SModel& m = g_Model;
    const std::string text = fullText.substr(0, 1023);
    if (!m.m_Initialized)
        return m.m_Forwarded.push_back({severity, channel, file, text, true, line, 0, 0});
    static const char* const kWords[] = {"ASSERT:", "ERROR:", "WARNING:", "INFO:", "VERBOSE:"};
    const bool passed =
        severity != E_LOG_VERBOSE || (Contains(file, m.m_Filters[0], m.m_Modes[0]) &&
                                      Contains(channel, m.m_Filters[1], m.m_Modes[1]));
    std::string head = severity >= 1 && severity <= 5 ? kWords[severity - 1] : "";
    head += channel.substr(0, 15) + ":";
    head.resize(25, ' ');
    head += std::string(2 * (m.m_Level < 5 ? m.m_Level : 5), ' ');
    const auto entry = m.m_Channels.find(channel);
    for (int o = 0; o < 2 && passed; ++o)
    {
        const SLogOutput& out = m.m_Outputs[o];
        const int threshold = entry != m.m_Channels.end() ? entry->second : out.m_Severity;
        if (threshold < severity || out.m_Stream == nullptr)
            continue;
        std::string& w = m.m_Written[o];
        w += head;
        if (out.m_PrintTime)
            w += Format("%3d.%03d: ", int(m.m_ElapsedMs / 1000), int(m.m_ElapsedMs % 1000));
        w += text;
        w += out.m_PrintFileAndLine ? Format(" %s(%u)\n", file.c_str(), line) : "\n";
    }
    if (!m.m_Callback)
        return;
    m.m_Calls.push_back(
        {severity, channel, file, text, passed, line, uint32_t(m.m_Level), m.m_ElapsedMs});
    if (m.m_CallbackWrites && depth == 0)
        Expect(E_LOG_INFO, "CB", "cb.cpp", 9, "from the callback " + text.substr(0, 20), 1);
}

bool Callback(ELogSeverity severity, const char* channel, const char* file, const char* text,
              bool passed, uint32_t line, uint32_t indentation, int64_t elapsedMs, void* user)
{
    Check(user == &g_Model && !g_Model.m_Calls.empty());
    const SExpectedCall call = g_Model.m_Calls.front();
    g_Model.m_Calls.pop_front();
    Check(call.m_Severity == severity && call.m_Channel == channel && call.m_File == file &&
          call.m_Text == text && call.m_Passed == passed && call.m_Line == line &&
          call.m_Indentation == indentation && call.m_ElapsedMs == elapsedMs);
    if (g_Model.m_CallbackWrites && g_CallbackDepth == 0)
    {
        ++g_CallbackDepth;
        LogWrite(E_LOG_INFO, "CB", "cb.cpp", 9, "from the callback %.20s", text);
        --g_CallbackDepth;
    }
    return true;
}

bool Forward(ELogSeverity severity, const char* channel, const char* file, uint32_t line,
             const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof(text), format, args);
    Check(!g_Model.m_Forwarded.empty());
    const SExpectedCall call = g_Model.m_Forwarded.front();
    g_Model.m_Forwarded.pop_front();
    Check(call.m_Severity == severity && call.m_Channel == channel && call.m_File == file &&
          call.m_Line == line && call.m_Text == text);
    return true; // delivered: nothing on the standard error stream
}

void SetFilters(SInput& in)
{
    SModel& m = g_Model;
    std::string texts[2] = {in.Text(), in.Text()};
    const uint8_t modes = in.Byte();
    const char* args[2];
    for (int f = 0; f < 2; ++f)
    {
        const bool clear = modes & (16 << f);
        args[f] = clear ? nullptr : texts[f].c_str();
        m.m_Filters[f] = clear ? "" : texts[f].substr(0, 511);
        m.m_Modes[f] = clear ? 0 : (modes >> 2 * f) % 3; // 2: not a mode, asserts, passes
        if (!clear && texts[f].size() > 511)
            Expect(E_LOG_WARNING, "LOGGER", m.m_TruncationFile, m.m_TruncationLine,
                   "The filter was truncated to 511 chars to fit in buffer", 0);
    }
    LogSetFilters(args[0], ELogFilterMode(m.m_Modes[0]), args[1], ELogFilterMode(m.m_Modes[1]));
}

void Init(SInput& in)
{
    SModel& m = g_Model;
    const uint8_t config = in.Byte(), severities = in.Byte();
    for (int o = 0; o < 2; ++o)
        m.m_Outputs[o] = {o == 1 && (config & 1) ? nullptr : g_Streams[o],
                          ELogSeverity((severities >> 4 * o) % 8 - 1), bool(config & (2 << o)),
                          bool(config & (8 << o))};
    SLogOutput outputs[2] = {m.m_Outputs[0], m.m_Outputs[1]};
    SLogInitParams params;
    params.m_Allocator = &g_Allocator;
    params.m_Outputs[0] = &outputs[0];
    params.m_Outputs[1] = &outputs[1];
    g_Failed = false;
    g_FailIn = config & 0x40 ? 0 : -1;
    m.m_Now = m.m_ElapsedMs = 0;
    LogInit(params);
    g_FailIn = -1;
    m.m_Initialized = !g_Failed;
    Check(LogInitialized() == m.m_Initialized);
    for (int o = 0; o < 2; ++o) // an output without a stream stays off
        if (m.m_Outputs[o].m_Stream == nullptr)
            m.m_Outputs[o].m_Severity = E_LOG_NONE;
    m.m_Channels.clear();
    m.m_Filters[0] = m.m_Filters[1] = "";
    m.m_Modes[0] = m.m_Modes[1] = 0;
    m.m_Level = m.m_Initialized ? 0 : m.m_Level; // a failed LogInit leaves the level alone
    m.m_Callback = false;
}

void Shutdown()
{
    LogShutdown();
    g_Model.m_Initialized = false;
    g_Model.m_Level = 0;
    Check(g_Live == 0);
}

int64_t Now()
{
    return g_Model.m_Now;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    AssertHandler = [](const char*, int, const char*) { return false; };
    LogSetForward(&Forward);
    g_LogSeams.m_CounterNow = &Now;
    g_LogSeams.m_DebugOutput = [](const char*) {};
    // Where the log reports a cut filter, read once from its callback.
    SLogInitParams params;
    params.m_Allocator = &g_Allocator;
    params.m_Outputs[0] = nullptr;
    LogInit(params);
    LogSetCallback(
        [](ELogSeverity, const char*, const char* file, const char*, bool, uint32_t line, uint32_t,
           int64_t, void*) {
            g_Model.m_TruncationFile = file;
            g_Model.m_TruncationLine = line;
            return true;
        },
        nullptr);
    LogSetFilters(std::string(600, 'f').c_str(), E_LOG_FILTER_INCLUDE, nullptr,
                  E_LOG_FILTER_INCLUDE);
    LogShutdown();
    Check(g_Model.m_TruncationFile == "common/debug/log.cpp" && g_Live == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SModel& m = g_Model;
    SInput in = {data, size};
    for (int o = 0; o < 2; ++o)
        g_Streams[o] = open_memstream(&g_Buffers[o], &g_Sizes[o]), m.m_Written[o].clear();
    m.m_Initialized = false; // the thread's level stays from the previous input
    Init(in);
    while (in.m_Size > 0)
    {
        const uint8_t op = in.Byte();
        switch (op % 11)
        {
        case 0:
        case 1:
        {
            const int severity = int(in.Byte() % 8) - 1;
            const std::string channel = in.Text(), file = in.Text();
            Write(severity, channel, file, in.Byte(), in.Text());
            break;
        }
        case 2: // a channel threshold, possibly with the log's memory running out
        {
            const std::string channel = in.Text();
            const int severity = int(in.Byte() % 9) - 1;
            g_Failed = false;
            g_FailIn = op & 0x80 ? (op >> 4) % 3 : -1;
            LogSetChannelSeverity(channel.c_str(), ELogSeverity(severity));
            g_FailIn = -1;
            if (m.m_Initialized && !g_Failed)
                m.m_Channels[channel] = severity;
            break;
        }
        case 3:
        {
            const std::string channel = in.Text();
            LogRemoveChannelSeverity(channel.c_str());
            if (m.m_Initialized)
                m.m_Channels.erase(channel);
            break;
        }
        case 4:
            if (m.m_Initialized)
                SetFilters(in);
            break;
        case 5:
            op & 0x80 ? LogUnindent() : LogIndent();
            m.m_Level += op & 0x80 ? uintptr_t(-1) : 1;
            break;
        case 6: // a scope line at the current level, then one level deeper
        {
            const std::string text = in.Text();
            Expect(E_LOG_WARNING, "SCOPE", "s.cpp", 3, text, 0);
            CLogScope scope(E_LOG_WARNING, "SCOPE", "s.cpp", 3, "%s", text.c_str());
            ++m.m_Level;
            break;
        }
        case 7:
            if (m.m_Initialized)
            {
                m.m_Callback = op & 0x80;
                m.m_CallbackWrites = op & 0x40;
                LogSetCallback(m.m_Callback ? &Callback : nullptr, &g_Model);
            }
            break;
        case 8: // the clock moves on by whole milliseconds, up to about 30 years
        {
            const int64_t ms = int64_t(in.Byte()) << (in.Byte() % 24);
            const int64_t frequency = int64_t(GetCounterFrequency());
            m.m_ElapsedMs += m.m_ElapsedMs < (int64_t(1) << 40) ? ms : 0;
            m.m_Now = m.m_ElapsedMs * (frequency / 1000) + frequency / 2000;
            break;
        }
        case 9:
            m.m_Initialized ? Shutdown() : Init(in);
            break;
        case 10: // settings on an uninitialised log assert and change nothing
            if (!m.m_Initialized)
                LogSetFilters("x", E_LOG_FILTER_INCLUDE, nullptr, E_LOG_FILTER_INCLUDE);
            break;
        }
        Check(m.m_Calls.empty() && m.m_Forwarded.empty());
    }
    if (m.m_Initialized)
        Shutdown();
    for (int o = 0; o < 2; ++o)
    {
        std::fclose(g_Streams[o]);
        Check(std::string(g_Buffers[o], g_Sizes[o]) == m.m_Written[o]);
        std::free(g_Buffers[o]);
    }
    return 0;
}
