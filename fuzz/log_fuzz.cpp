// Fuzz target for the log: writes, channel thresholds, filters, indentation and a callback
// that writes too, through two memory streams. A model predicts the record that reaches
// the output hook and the callback, and every byte of both streams; all log memory must be
// back after the shutdown. Linux (memory streams).
#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <tuple>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/debug/log_context.h"
#include "fuzz_input.h"

namespace
{

int g_Live = 0; // blocks held
SAllocator g_Allocator = {
    [](SAllocator*, uint32_t size, uint32_t) { return ++g_Live, std::malloc(size); },
    [](SAllocator*, void* block) { --g_Live, std::free(block); }};

// A message: severity, channel, file, text, the filters' verdict, line and indentation.
using SCall = std::tuple<int, std::string, std::string, std::string, bool, uint32_t, uint32_t>;
// The model: what the log holds, and the messages that must reach the hook and the callback.
SLogOutput g_Outputs[2];
std::string g_Written[2];
std::pair<std::string, int> g_Filters[2]; // text, mode (2: not a mode, which passes)
std::map<std::string, int> g_Channels;
uint32_t g_Level = 0;
bool g_Callback = false;
std::deque<SCall> g_Due, g_Calls;

// A message the log must see: written here at once (so before any already expected), or
// later by the log itself.
void Expect(int severity, const std::string& channel, const std::string& file, uint32_t line,
            const std::string& text, bool write = true)
{
    auto passes = [](const std::string& subject, const std::pair<std::string, int>& filter) {
        return filter.second == 2 ||
               (subject.find(filter.first) != std::string::npos) != filter.second;
    };
    const SCall call = {severity,
                        channel,
                        file,
                        text.substr(0, 1023),
                        severity != E_LOG_VERBOSE ||
                            (passes(file, g_Filters[0]) && passes(channel, g_Filters[1])),
                        line,
                        g_Level};
    write ? g_Due.push_front(call) : g_Due.push_back(call);
    if (write)
        LogWrite(ELogSeverity(severity), channel.c_str(), file.c_str(), line, "%s", text.c_str());
}

// Each message, checked against the model, then its line for each output that takes it:
// the severity word and channel in 25 columns, two blanks per level up to 5, the time
// stamp, the text, the file and line, one newline.
void Hook(LogOutputFunc output, SLogMessage* m, void*)
{
    Check(!g_Due.empty());
    SCall call = g_Due.front();
    g_Due.pop_front();
    if (std::get<5>(call) == UINT32_MAX) // the log's own warning, from its own source line
        std::get<5>(call) = m->m_Line;
    Check(call == SCall{m->m_Severity, m->m_Channel, m->m_File, m->m_Text, m->m_Passed, m->m_Line,
                        m->m_Indentation});
    static const char* const kWords[] = {"", "ASSERT:", "ERROR:", "WARNING:", "INFO:", "VERBOSE:"};
    std::string head = kWords[m->m_Severity >= 1 && m->m_Severity <= 5 ? m->m_Severity : 0] +
                       std::string(m->m_Channel).substr(0, 15) + ":";
    head.resize(25 + 2 * std::min(m->m_Indentation, 5u), ' ');
    const auto entry = g_Channels.find(m->m_Channel);
    for (const int o : {0, 1})
        if (m->m_Passed && g_Outputs[o].m_Stream &&
            (entry != g_Channels.end() ? entry->second : g_Outputs[o].m_Severity) >= m->m_Severity)
            g_Written[o] += head + (g_Outputs[o].m_PrintTime ? "  0.000: " : "") + m->m_Text +
                            (g_Outputs[o].m_PrintFileAndLine ? " " + std::string(m->m_File) + "(" +
                                                                   std::to_string(m->m_Line) + ")"
                                                             : "") +
                            "\n";
    if (g_Callback)
        g_Calls.push_back(call);
    output(m);
}

// Checks its arguments, and writes a message of its own (not from its own message).
bool Callback(ELogSeverity severity, const char* channel, const char* file, const char* text,
              bool passed, uint32_t line, uint32_t level, int64_t, void*)
{
    Check(!g_Calls.empty() &&
          g_Calls.front() == SCall{severity, channel, file, text, passed, line, level});
    g_Calls.pop_front();
    if (std::string(file) != "cb.cpp")
        Expect(E_LOG_INFO, "CB", "cb.cpp", 9, text);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    AssertHandler = [](const char*, int, const char*) { return false; };
    g_LogSeams.m_CounterNow = [] { return int64_t(0); }; // every time stamp at 0 ms
    return 0;
}

// Input: the outputs' settings in two bytes, then operations.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SInput in = {data, size};
    char* buffers[2];
    size_t sizes[2];
    SLogInitParams params;
    params.m_Allocator = &g_Allocator;
    const uint8_t config = in.Byte(), severities = in.Byte();
    for (const int o : {0, 1})
    {
        g_Outputs[o] = {o == 1 && (config & 1) ? nullptr : open_memstream(&buffers[o], &sizes[o]),
                        ELogSeverity((severities >> 4 * o) % 8 - 1), bool(config & (2 << o)),
                        bool(config & (8 << o))};
        params.m_Outputs[o] = &g_Outputs[o];
        g_Written[o] = "";
    }
    LogInit(params);
    LogSetOutputHook(&Hook, nullptr);
    g_Channels.clear();
    g_Filters[0] = g_Filters[1] = {};
    g_Level = 0;
    g_Callback = false;
    while (in.m_Size > 0)
    {
        const uint8_t op = in.Byte(), arg = in.Byte();
        const std::string texts[3] = {in.Text(), in.Text(), in.Text()};
        switch (op % 7)
        {
        case 0:
        case 1:
            Expect(int(arg % 8) - 1, texts[0], texts[1], op, texts[2]);
            break;
        case 2: // a channel's own threshold on both outputs
            g_Channels[texts[0]] = int(arg % 9) - 1;
            LogSetChannelSeverity(texts[0].c_str(), ELogSeverity(int(arg % 9) - 1));
            break;
        case 3:
            g_Channels.erase(texts[0]);
            LogRemoveChannelSeverity(texts[0].c_str());
            break;
        case 4: // filters: a null text clears one; a text is cut to 511 characters, with a warning
                // warning
            for (const int f : {0, 1})
            {
                g_Filters[f] = arg & (16 << f)
                                   ? std::pair<std::string, int>()
                                   : std::pair(texts[f].substr(0, 511), (arg >> 2 * f) % 3);
                if (!(arg & (16 << f)) && texts[f].size() > 511)
                    Expect(E_LOG_WARNING, "LOGGER", "common/debug/log.cpp", UINT32_MAX,
                           "The filter was truncated to 511 chars to fit in buffer", false);
            }
            LogSetFilters(arg & 16 ? nullptr : texts[0].c_str(), ELogFilterMode(arg % 3),
                          arg & 32 ? nullptr : texts[1].c_str(), ELogFilterMode((arg >> 2) % 3));
            break;
        case 5: // a scope line at the current level, one level deeper, then up to two back
            Expect(E_LOG_WARNING, "SCOPE", "s.cpp", 3, texts[0], false);
            CLogScope(E_LOG_WARNING, "SCOPE", "s.cpp", 3, "%s", texts[0].c_str());
            g_Level += 1 - arg % 3;
            for (int i = 0; i < arg % 3; ++i)
                LogUnindent();
            break;
        case 6:
            g_Callback = arg & 1;
            LogSetCallback(g_Callback ? &Callback : nullptr, nullptr);
            break;
        }
        Check(g_Due.empty() && g_Calls.empty());
    }
    LogShutdown();
    Check(g_Live == 0);
    for (const int o : {0, 1})
        if (g_Outputs[o].m_Stream)
        {
            std::fclose(g_Outputs[o].m_Stream);
            Check(std::string(buffers[o], sizes[o]) == g_Written[o]);
            std::free(buffers[o]);
        }
    return 0;
}
