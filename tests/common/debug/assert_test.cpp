// The assertion report: the handler sees the condition's text, file and line, and the
// code after a failed check runs when the handler lets it.
#include <gtest/gtest.h>

#include "common/debug/assert.h"
#include "test_support.h"

TEST(Assert, HandlerSeesTheConditionTextAndExecutionContinues)
{
    CAssertRecorder recorder;
    int value = 3;
    bool afterCheck = false;
    PLATFORM_ASSERT(value == 3);
    EXPECT_EQ(recorder.Count(), 0u);

    const int line = __LINE__ + 1;
    PLATFORM_ASSERT(value == 4 && "value must be four");
    afterCheck = true;
    ASSERT_EQ(recorder.Count(), 1u);
    const SAssertRecord record = recorder.Records()[0];
    EXPECT_EQ(record.m_Expression, "value == 4 && \"value must be four\"");
    EXPECT_EQ(record.m_Line, line);
    EXPECT_EQ(record.m_File, "tests/common/debug/assert_test.cpp");
    EXPECT_TRUE(afterCheck);
}
