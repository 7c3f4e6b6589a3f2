// Fuzz target for the log: writes, settings, channel thresholds (also with the memory
// running out), filters, indentation, a callback that writes too, and writes while
// uninitialised, through two memory streams. A model predicts the record that reaches the
// output hook, every byte of both streams, and every callback and forwarded call; all log
// memory must be back after each shutdown. Linux (memory streams).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <utility>

#include "common/debug/assert.h"
#include "common/debug/log.h"
#include "common/debug/log_context.h"
#include "common/time/counter.h"
#include "fuzz_input.h"

namespace
{

int g_Live = 0, g_FailIn = -1; // blocks held; the allocation that fails
SAllocator g_Allocator = {[](SAllocator*, uint32_t size, uint32_t) {
                              return g_FailIn-- == 0 ? nullptr : (++g_Live, std::malloc(size));
                          },
                          [](SAllocator*, void* block) { --g_Live, std::free(block); }};

struct SCall // a message as the hook, the callback or the forwarding sees it
{
    int m_Severity;
    std::string m_Channel, m_File, m_Text;
    bool m_Passed;
    uint32_t m_Line, m_Level;
    int64_t m_Ms;
    bool operator==(const SCall&) const = default;
};

// The model: what the log holds, and what it must write and call next.
bool g_Init = false, g_Callback = false, g_CallbackWrites = false;
SLogOutput g_Outputs[2];
std::string g_Written[2], g_Filters[2];
int g_Modes[2];
std::map<std::string, int> g_Channels;
uintptr_t g_Level = 0;
int64_t g_Ms = 0, g_Now = 0;
std::deque<SCall> g_Due, g_Calls; // at the hook or the forwarding; at the callback

SCall Take(std::deque<SCall>& queue)
{
    Check(!queue.empty());
    const SCall call = queue.front();
    queue.pop_front();
    return call;
}

// A message the log must see next, written here unless the log writes it itself.
void Expect(int severity, const std::string& channel, const std::string& file, uint32_t line,
            const std::string& text, bool write = true)
{
    auto passes = [](const std::string& subject, int f) {
        return g_Modes[f] == 2 || (subject.find(g_Filters[f]) != std::string::npos) != g_Modes[f];
    };
    g_Due.push_back(
        {severity, channel, file, g_Init ? text.substr(0, 1023) : text,
         !g_Init || severity != E_LOG_VERBOSE || (passes(file, 0) && passes(channel, 1)), line,
         g_Init ? uint32_t(g_Level) : 0, g_Init ? g_Ms : 0});
    if (write)
        LogWrite(ELogSeverity(severity), channel.c_str(), file.c_str(), line, "%s", text.c_str());
}

// Every message of the initialised log: checked against the model, which then predicts
// its lines: the severity word and channel in 25 columns, two blanks per level up to 5,
// the time stamp, the text, the file and line, one newline.
void Hook(LogOutputFunc output, SLogMessage* message, void*)
{
    SCall call = Take(g_Due);
    if (call.m_Line == UINT32_MAX) // the log's own warning, from its own source line
        call.m_Line = message->m_Line;
    Check(call == SCall{message->m_Severity, message->m_Channel, message->m_File, message->m_Text,
                        message->m_Passed, message->m_Line, message->m_Indentation,
                        message->m_ElapsedMs});
    static const char* const kWords[] = {"ASSERT:", "ERROR:", "WARNING:", "INFO:", "VERBOSE:"};
    std::string head =
        call.m_Severity >= 1 && call.m_Severity <= 5 ? kWords[call.m_Severity - 1] : "";
    head += call.m_Channel.substr(0, 15) + ":";
    head.resize(25 + 2 * std::min<size_t>(call.m_Level, 5), ' ');
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%3d.%03d: ", int(call.m_Ms / 1000), int(call.m_Ms % 1000));
    const auto entry = g_Channels.find(call.m_Channel);
    for (int o = 0; o < 2 && call.m_Passed; ++o)
        if (g_Outputs[o].m_Stream &&
            (entry != g_Channels.end() ? entry->second : g_Outputs[o].m_Severity) >=
                call.m_Severity)
            g_Written[o] += head + (g_Outputs[o].m_PrintTime ? stamp : "") + call.m_Text +
                            (g_Outputs[o].m_PrintFileAndLine
                                 ? " " + call.m_File + "(" + std::to_string(call.m_Line) + ")"
                                 : "") +
                            "\n";
    if (g_Callback)
        g_Calls.push_back(call);
    output(message);
}

bool Callback(ELogSeverity severity, const char* channel, const char* file, const char* text,
              bool passed, uint32_t line, uint32_t level, int64_t ms, void*)
{
    Check(Take(g_Calls) == SCall{severity, channel, file, text, passed, line, level, ms});
    static int depth = 0;
    if (g_CallbackWrites && depth++ == 0)
        Expect(E_LOG_INFO, "CB", "cb.cpp", 9, std::string("from the callback ") + text);
    --depth;
    return true;
}

// Shuts the log down, which must give all its memory back, or starts it from two bytes.
void Toggle(SInput& in, FILE* const* streams)
{
    if (g_Init)
    {
        LogShutdown();
        g_Init = false;
        g_Level = 0;
        return Check(g_Live == 0);
    }
    const uint8_t config = in.Byte(), severities = in.Byte();
    SLogInitParams params;
    params.m_Allocator = &g_Allocator;
    for (int o = 0; o < 2; ++o)
        params.m_Outputs[o] = &(g_Outputs[o] = {o == 1 && (config & 1) ? nullptr : streams[o],
                                                ELogSeverity((severities >> 4 * o) % 8 - 1),
                                                bool(config & (2 << o)), bool(config & (8 << o))});
    g_Ms = g_Now = 0;
    g_FailIn = config & 0x40 ? 0 : -1; // the context's memory
    LogInit(params);
    g_Init = !(config & 0x40);
    Check(LogInitialized() == g_Init);
    LogSetOutputHook(&Hook, nullptr);
    g_Channels.clear();
    g_Filters[0] = g_Filters[1] = "";
    g_Modes[0] = g_Modes[1] = 0;
    g_Level = g_Init ? 0 : g_Level;
    g_Callback = false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    AssertHandler = [](const char*, int, const char*) { return false; };
    g_LogSeams.m_CounterNow = [] { return g_Now; };
    g_LogSeams.m_DebugOutput = [](const char*) {};
    LogSetForward([](ELogSeverity severity, const char* channel, const char* file, uint32_t line,
                     const char*, va_list args) {
        Check(Take(g_Due) ==
              SCall{severity, channel, file, va_arg(args, const char*), true, line, 0, 0});
        return true; // delivered: nothing on the standard error stream
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SInput in = {data, size};
    char* buffers[2];
    size_t sizes[2];
    FILE* streams[2] = {open_memstream(&buffers[0], &sizes[0]),
                        open_memstream(&buffers[1], &sizes[1])};
    g_Written[0] = g_Written[1] = "";
    Toggle(in, streams); // the thread's level stays from the previous input
    while (in.m_Size > 0)
    {
        const uint8_t op = in.Byte();
        std::string texts[3] = {in.Text(), in.Text(), in.Text()};
        const uint8_t arg = in.Byte();
        switch (op % 10)
        {
        case 0:
        case 1:
            Expect(int(arg % 8) - 1, texts[0], texts[1], op, texts[2]);
            break;
        case 2: // a channel threshold, possibly with the log's memory running out
            g_FailIn = op & 0x80 ? (op >> 4) % 3 : -1;
            LogSetChannelSeverity(texts[0].c_str(), ELogSeverity(int(arg % 9) - 1));
            if (g_Init && (g_FailIn >= 0 || !(op & 0x80)))
                g_Channels[texts[0]] = int(arg % 9) - 1;
            break;
        case 3:
            LogRemoveChannelSeverity(texts[0].c_str());
            g_Channels.erase(texts[0]);
            break;
        case 4: // filters, cut at 511 characters with a warning; a third mode is not a mode
            for (int f = 0; f < 2 && g_Init; ++f)
            {
                g_Filters[f] = arg & (16 << f) ? "" : texts[f].substr(0, 511);
                g_Modes[f] = arg & (16 << f) ? 0 : (arg >> 2 * f) % 3;
                if (!(arg & (16 << f)) && texts[f].size() > 511)
                    Expect(E_LOG_WARNING, "LOGGER", "common/debug/log.cpp", UINT32_MAX,
                           "The filter was truncated to 511 chars to fit in buffer", false);
            }
            LogSetFilters(arg & 16 ? nullptr : texts[0].c_str(), ELogFilterMode(arg % 3),
                          arg & 32 ? nullptr : texts[1].c_str(), ELogFilterMode((arg >> 2) % 3));
            break;
        case 5:
            op & 0x80 ? LogUnindent() : LogIndent();
            g_Level += op & 0x80 ? uintptr_t(-1) : 1;
            break;
        case 6: // a scope line at the current level, then one level deeper
            Expect(E_LOG_WARNING, "SCOPE", "s.cpp", 3, texts[0], false);
            CLogScope(E_LOG_WARNING, "SCOPE", "s.cpp", 3, "%s", texts[0].c_str());
            ++g_Level;
            break;
        case 7:
            g_Callback = g_Init && (op & 0x80);
            g_CallbackWrites = op & 0x40;
            LogSetCallback(op & 0x80 ? &Callback : nullptr, nullptr);
            break;
        case 8: // the clock moves on by whole milliseconds, up to about 30 years
            g_Ms += g_Ms < (int64_t(1) << 40) ? int64_t(arg) << (op % 24) : 0;
            g_Now = g_Ms * int64_t(GetCounterFrequency() / 1000) +
                    int64_t(GetCounterFrequency() / 2000);
            break;
        case 9:
            Toggle(in, streams);
            break;
        }
        g_FailIn = -1;
        Check(g_Due.empty() && g_Calls.empty());
    }
    if (g_Init)
        Toggle(in, streams);
    for (int o = 0; o < 2; ++o)
    {
        std::fclose(streams[o]);
        Check(std::string(buffers[o], sizes[o]) == g_Written[o]);
        std::free(buffers[o]);
    }
    return 0;
}
