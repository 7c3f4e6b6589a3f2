// The write entry while the module's log is uninitialised: a one-time notice, then each
// message alone on its line on the standard error stream.
#include <gtest/gtest.h>

#include "common/debug/log.h"

TEST(LogUninitialized, NoticeOnceThenEachMessageOnItsOwnLine)
{
    testing::internal::CaptureStderr();
    LogWrite(E_LOG_WARNING, "PROFILE", "file.cpp", 10, "first %d", 1);
    LogWrite(E_LOG_NONE, "ANY", "file.cpp", 11, "second %s", "message");
    LogWrite(E_LOG_VERBOSE, "ANY", "file.cpp", 12, "third");
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output, "Trying to write to an uninitialized log. Use LogInit() to get rid of "
                      "this message.\n"
                      "first 1\n"
                      "second message\n"
                      "third\n");
}
