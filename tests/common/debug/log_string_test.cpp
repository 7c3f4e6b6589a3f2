// The log's channel-name string, its container allocator and the channel table, with
// every block counted and allocations failed on demand.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/debug/log_string.h"
#include "test_support.h"

TEST(LogString, BorrowsCopiesAndReusesItsBlock)
{
    SCountingAllocator counting;
    g_LogAllocator = counting.Get();
    char text[] = "network";
    {
        CLogString borrowed(text, false);
        EXPECT_EQ(borrowed.GetString(), text);
        EXPECT_EQ(counting.m_Allocations.load(), 0);
        CLogString copy(borrowed); // a copy of a borrowed text owns its own block
        text[0] = 'X';
        EXPECT_STREQ(copy.GetString(), "network");
        EXPECT_EQ(copy.GetCapacity(), 7u);
        EXPECT_EQ(counting.m_LastSize.load(), 8u);
        EXPECT_EQ(counting.m_LastAlignment.load(), 16u);

        CLogString owned("0123456789", true);
        const char* block = owned.GetString();
        owned.Set("abcde", true); // fits: same block, capacity kept
        EXPECT_EQ(owned.GetString(), block);
        EXPECT_EQ(owned.GetCapacity(), 10u);
        owned.Set("abcdefghijk", true); // 11 characters: a new block of 12 bytes
        EXPECT_STREQ(owned.GetString(), "abcdefghijk");
        EXPECT_EQ(counting.m_LastSize.load(), 12u);
        EXPECT_EQ(counting.Live(), 2);
        owned.Set(text, false); // borrowing gives the owned block back
        EXPECT_EQ(counting.Live(), 1);
    }
    EXPECT_EQ(counting.Live(), 0);

    counting.m_FailCountdown = 0;
    CLogString failed("abc", true);
    EXPECT_EQ(failed.GetString(), nullptr);
    CLogString grown("ab", true);
    counting.m_FailCountdown = 0;
    grown.Set("abcdef", true); // cannot grow: empty, the old block given back
    EXPECT_EQ(grown.GetString(), nullptr);
    EXPECT_EQ(grown.GetCapacity(), CLogString::NOT_OWNED);
    EXPECT_EQ(counting.Live(), 0);
    g_LogAllocator = nullptr;
}

TEST(LogString, AllocatorWrapperServesStandardContainers)
{
    SCountingAllocator counting;
    g_LogAllocator = counting.Get();
    {
        std::map<int, int, std::less<int>, stl_allocator_wrapper<std::pair<const int, int>>> map;
        for (int i = 0; i < 10; ++i)
            map[i] = i * i;
        EXPECT_EQ(map[7], 49);
        EXPECT_GE(counting.m_Allocations.load(), 10);
        EXPECT_EQ(counting.m_LastAlignment.load(), 16u);
    }
    EXPECT_EQ(counting.Live(), 0);
    EXPECT_EQ(stl_allocator_wrapper<uint32_t>().allocate(0x40000000u), nullptr); // > 4 GiB
    g_LogAllocator = nullptr;
}

static std::string Keys(const CLogChannelSeverityTable& table)
{
    std::string keys;
    for (uint32_t i = 0; i < table.Size(); ++i)
        keys += std::string("[") + table.At(i).m_Channel.GetString() + "]";
    return keys;
}

static int Lookup(const CLogChannelSeverityTable& table, const char* channel)
{
    const ELogSeverity* severity = table.Find(CLogString(channel, false));
    return severity != nullptr ? *severity : -1;
}

TEST(LogChannelTable, KeepsUniqueKeysInByteOrder)
{
    SCountingAllocator counting;
    g_LogAllocator = counting.Get();
    {
        CLogChannelSeverityTable table;
        const char* names[] = {"net", "NET", "network", "", "ne", "net"};
        for (int i = 0; i < 6; ++i)
            EXPECT_TRUE(table.Set(CLogString(names[i], false), static_cast<ELogSeverity>(i)));
        EXPECT_EQ(Keys(table), "[][NET][ne][net][network]");
        EXPECT_EQ(Lookup(table, "net"), 5); // set twice: one entry, the second value
        EXPECT_EQ(Lookup(table, "NET"), 1);
        EXPECT_EQ(Lookup(table, ""), 3);
        int allocations = counting.m_Allocations;
        EXPECT_EQ(Lookup(table, "nets"), -1);
        EXPECT_EQ(Lookup(table, "Net"), -1);
        EXPECT_EQ(counting.m_Allocations.load(), allocations); // lookups allocate nothing

        // Growing through several capacities, in scrambled order, keeps order and values.
        for (int i = 0; i < 40; ++i)
        {
            char name[8];
            std::snprintf(name, sizeof(name), "c%02d", (i * 17) % 40);
            table.Set(CLogString(name, false), static_cast<ELogSeverity>((i * 17) % 40));
        }
        EXPECT_TRUE(table.Erase(CLogString("ne", false)));
        EXPECT_FALSE(table.Erase(CLogString("ne", false)));
        std::string expected = "[][NET]";
        for (int i = 0; i < 40; ++i)
            expected += "[c" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "]";
        EXPECT_EQ(Keys(table), expected + "[net][network]");
        EXPECT_EQ(Lookup(table, "c33"), 33);
        EXPECT_EQ(Lookup(table, "network"), 2);
    }
    EXPECT_EQ(counting.Live(), 0);
    g_LogAllocator = nullptr;
}
