// Helpers for the log tests: a temporary stream read back piece by piece, a fixture with
// two outputs and a fixed clock, and the start of a line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/debug/log_context.h"
#include "common/time/counter.h"
#include "test_support.h"

// A tmpfile() stream; Take() returns what was written since the previous Take().
struct CLogFile
{
    FILE* m_File = std::tmpfile();
    long m_Taken = 0;
    ~CLogFile() { std::fclose(m_File); }
    std::string Take()
    {
        std::string text;
        std::fflush(m_File);
        std::fseek(m_File, m_Taken, SEEK_SET);
        for (int c = std::fgetc(m_File); c != EOF; c = std::fgetc(m_File))
            text += static_cast<char>(c);
        m_Taken = std::ftell(m_File);
        std::fseek(m_File, 0, SEEK_END); // repositioned before the next write
        return text;
    }
};

// Output 0 off and output 1 on every severity without flags, on temporary streams; a
// counting allocator that must have every block back after the test; a fixed clock, and
// the debugger copies recorded.
class LogTest : public testing::Test
{
protected:
    static inline int64_t s_Now = 0;
    static inline std::vector<std::string> s_DebugPieces;
    SLogSeams m_SavedSeams = g_LogSeams;
    SCountingAllocator m_Counting;
    CLogFile m_Quiet, m_File;
    // The context starts at tick 0; the clock then stands half a millisecond past the
    // chosen time, so the truncation to milliseconds is exact at any counter frequency.
    static void SetElapsedMs(uint64_t ms)
    {
        s_Now = static_cast<int64_t>((2 * ms + 1) * GetCounterFrequency() / 2000);
    }
    void SetUp() override
    {
        s_Now = 0;
        s_DebugPieces.clear();
        g_LogSeams = {[] { return s_Now; },
                      [](const char* text) { s_DebugPieces.push_back(text); }};
        SLogOutput outputs[2] = {{m_Quiet.m_File, E_LOG_NONE, false, false},
                                 {m_File.m_File, E_LOG_VERBOSE, false, false}};
        SLogInitParams params;
        params.m_Allocator = m_Counting.Get();
        params.m_Outputs[0] = &outputs[0];
        params.m_Outputs[1] = &outputs[1];
        LogInit(params);
    }
    void TearDown() override
    {
        if (LogInitialized())
            LogShutdown();
        g_LogSeams = m_SavedSeams;
        EXPECT_EQ(m_Counting.Live(), 0);
    }
};

// Severity word and channel tag padded to 25 columns: the start of a line at level 0.
inline std::string LogTestHead(const std::string& wordAndTag)
{
    return wordAndTag + std::string(25 - wordAndTag.size(), ' ');
}
