// Fuzz target for the log: writes, channel thresholds, filters, indentation and a callback,
// through two memory streams. A model predicts the callback's arguments and every byte of
// both streams; all log memory must be back after the shutdown. Linux (memory streams).
#include <map>
#include <utility>

#include "common/debug/log_context.h"
#include "fuzz_input.h"

// The model: the outputs and what they hold, the filters (text and mode; mode 2 is none and
// passes), the channels' own thresholds, the level, and while a callback is installed the
// arguments it must see next (severity, channel, file, text, verdict, line, level).
static SLogOutput g_Outputs[2];
static std::string g_Written[2];
static std::pair<std::string, int> g_Filters[2];
static std::map<std::string, int> g_Channels;
static uint32_t g_Level = 0;
static bool g_Callback = false;
using SCall = std::tuple<int, std::string, std::string, std::string, bool, uint32_t, uint32_t>;
static SCall g_Due;

// Writes one message: the line of each output that takes it is the severity word and the
// channel in 25 columns, two blanks per level up to 5, the time stamp, the text, the file
// and line, one newline.
static void Write(int severity, const std::string& channel, const std::string& file, uint32_t line,
                  const std::string& text)
{
    bool passed = true;
    for (const int f : {0, 1})
        passed &= g_Filters[f].second == 2 || ((f ? channel : file).find(g_Filters[f].first) !=
                                               std::string::npos) != g_Filters[f].second;
    passed |= severity != E_LOG_VERBOSE;
    if (g_Callback)
        g_Due = {severity, channel, file, text.substr(0, 1023), passed, line, g_Level};
    static const char* const kWords[] = {"", "ASSERT:", "ERROR:", "WARNING:", "INFO:", "VERBOSE:"};
    std::string head =
        kWords[severity >= 1 && severity <= 5 ? severity : 0] + channel.substr(0, 15) + ":";
    head.resize(25 + 2 * (g_Level < 5 ? g_Level : 5), ' ');
    const std::string where = " " + file + "(" + std::to_string(line) + ")";
    const auto entry = g_Channels.find(channel);
    for (const int o : {0, 1})
        if (passed && g_Outputs[o].m_Stream &&
            (entry != g_Channels.end() ? entry->second : g_Outputs[o].m_Severity) >= severity)
            g_Written[o] += head + (g_Outputs[o].m_PrintTime ? "  0.000: " : "") +
                            text.substr(0, 1023) + (g_Outputs[o].m_PrintFileAndLine ? where : "") +
                            "\n";
    LogWrite(ELogSeverity(severity), channel.c_str(), file.c_str(), line, "%s", text.c_str());
    Check(g_Due == SCall());
}

// Must be called once per message; the log's own warnings (of cut filters) are not modelled.
static bool Callback(ELogSeverity severity, const char* channel, const char* file, const char* text,
                     bool passed, uint32_t line, uint32_t level, int64_t, void*)
{
    Check(std::string(channel) == "LOGGER" ||
          std::exchange(g_Due, SCall()) ==
              SCall{severity, channel, file, text, passed, line, level});
    return true;
}

// Input: the outputs' settings in two bytes, then operations.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AssertHandler = [](const char*, int, const char*) { return false; };
    g_LogSeams.m_CounterNow = [] { return int64_t(0); }; // every time stamp at 0 ms
    SInput in = {data, size};
    auto text = [&in] { // a length and a character; lengths from 250 give 300 to 1800 of them
        const size_t length = in.Byte();
        return std::string(length < 250 ? length : (length - 249) * 300, char(in.Byte() | 1));
    };
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
    LogSetChannelSeverity("LOGGER", E_LOG_NONE); // the warnings of cut filters stay unwritten
    g_Callback = config & 0x40;
    LogSetCallback(g_Callback ? &Callback : nullptr, nullptr);
    g_Channels = {{"LOGGER", E_LOG_NONE}};
    g_Filters[0] = g_Filters[1] = {};
    g_Level = 0;
    while (in.m_Size > 0)
    {
        const uint8_t op = in.Byte(), arg = in.Byte();
        const std::string texts[3] = {text(), text(), text()};
        switch (op % 4)
        {
        case 0: // a message, maybe verbose and filtered out, or of no valid severity
            Write(int(arg % 8) - 1, texts[0], texts[1], op, texts[2]);
            break;
        case 1: // a channel's own threshold on both outputs
            g_Channels[texts[0]] = int(arg % 9) - 1;
            LogSetChannelSeverity(texts[0].c_str(), ELogSeverity(int(arg % 9) - 1));
            break;
        case 2: // filters: a null text clears one; a longer one is cut to 511 characters
            for (const int f : {0, 1})
                g_Filters[f] = arg & (16 << f)
                                   ? std::pair<std::string, int>()
                                   : std::pair(texts[f].substr(0, 511), (arg >> 2 * f) % 3);
            LogSetFilters(arg & 16 ? nullptr : texts[0].c_str(), ELogFilterMode(arg % 3),
                          arg & 32 ? nullptr : texts[1].c_str(), ELogFilterMode((arg >> 2) % 3));
            break;
        case 3: // a level deeper or back; at 0 the level wraps and shows as the deepest
            arg & 1 ? LogIndent() : LogUnindent();
            g_Level += arg & 1 ? 1 : -1;
            break;
        }
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
