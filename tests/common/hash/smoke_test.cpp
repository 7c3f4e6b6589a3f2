#include <gtest/gtest.h>
#include "common/hash/hash.h"
TEST(Hash, Smoke)
{
    EXPECT_EQ(HashString("abc"), 0x0E397631u);
}
