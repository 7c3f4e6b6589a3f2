#include <gtest/gtest.h>
#include "profile/profilercontext.h"
TEST(Registry, Loads)
{
    EXPECT_EQ(GetProfiler()->m_Constructed, 1u);
}
