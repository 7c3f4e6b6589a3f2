// Helpers for the log tests: a temporary stream read back as text, a fixed clock, a
// recorder of the debugger copies, and the first 25 columns of a line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/debug/log_context.h"
#include "common/time/counter.h"

// A tmpfile() stream whose whole content can be read back.
class CLogFile
{
public:
    FILE* m_File = std::tmpfile();
    ~CLogFile() { std::fclose(m_File); }
    FILE* Get() const { return m_File; }
    std::string Read() const
    {
        std::fflush(m_File);
        std::string text(static_cast<size_t>(std::ftell(m_File)), '\0');
        std::rewind(m_File);
        text.resize(std::fread(text.data(), 1, text.size(), m_File));
        std::fseek(m_File, 0, SEEK_END);
        return text;
    }
};

// Installs a clock that starts the context at tick 0 and then stands at the chosen
// elapsed time, half a millisecond past it so the truncation to milliseconds is exact at
// any counter frequency. The debugger copies are recorded meanwhile.
class CLogTestSeams
{
public:
    static inline int64_t s_Now = 0;
    static inline std::vector<std::string> s_DebugPieces;
    SLogSeams m_Saved = g_LogSeams;

    CLogTestSeams()
    {
        s_Now = 0;
        s_DebugPieces.clear();
        g_LogSeams = {[] { return s_Now; },
                      [](const char* text) { s_DebugPieces.push_back(text); }};
    }
    ~CLogTestSeams() { g_LogSeams = m_Saved; }
    static void SetElapsedMs(uint64_t ms)
    {
        s_Now = static_cast<int64_t>((2 * ms + 1) * GetCounterFrequency() / 2000);
    }
};

inline SLogOutput LogTestOutput(FILE* stream, ELogSeverity severity, bool fileAndLine = false,
                                bool time = false)
{
    return SLogOutput{stream, severity, fileAndLine, time};
}

// Severity word and channel tag padded to 25 columns: the start of a line at level 0.
inline std::string LogTestHead(const std::string& wordAndTag)
{
    return wordAndTag + std::string(25 - wordAndTag.size(), ' ');
}
