#include <gtest/gtest.h>
#include "profile/profilercontext.h"
TEST(Library, Loads)
{
    EXPECT_EQ(GetProfiler()->m_Constructed, 1u);
}
