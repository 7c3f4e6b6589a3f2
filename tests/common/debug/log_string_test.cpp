// The channel table under a failing allocator: the name that cannot get its block is
// left empty and the table stays as it was; removal needs no memory; the entries stay
// unique and in byte order.
#include "log_test_support.h"

using LogChannelTable = LogTest;

TEST_F(LogChannelTable, AFailingAllocatorLeavesItAsItWas)
{
    m_Counting.m_FailCountdown = 0;
    EXPECT_EQ(CLogString("key", true).GetString(), nullptr);
    const CLogChannelSeverityTable& table = g_LogContext->m_ChannelSeverities;
    // A first channel takes the temporary key, the entry's name and the array; a fifth
    // one the larger array. Fail each allocation in turn: the table stays as it was.
    for (const char* channel : {"C", "E", "A", "G", "B"})
    {
        const uint32_t size = table.Size();
        for (int failing = 0; failing < (size == 0 || size == 4 ? 3 : 2); ++failing)
        {
            const int live = m_Counting.Live();
            m_Counting.m_FailCountdown = failing;
            LogSetChannelSeverity(channel, E_LOG_INFO);
            EXPECT_EQ(table.Size(), size);
            EXPECT_EQ(m_Counting.Live(), live);
        }
        LogSetChannelSeverity(channel, static_cast<ELogSeverity>(channel[0]));
        EXPECT_EQ(table.Size(), size + 1);
    }
    m_Counting.m_FailAll = true;
    LogRemoveChannelSeverity("B");
    LogRemoveChannelSeverity("C");
    m_Counting.m_FailAll = false;
    std::string keys;
    for (uint32_t i = 0; i < table.Size(); ++i)
        keys += table.At(i).m_Channel.GetString() + std::string(1, char(table.At(i).m_Severity));
    EXPECT_EQ(keys, "AAEEGG");
}
