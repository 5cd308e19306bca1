// The system's words for an error, as the tool puts them after a colon.

#include "tool/system/SystemReason.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SystemReason, IsTheSystemsWordsWithoutClosingPeriodOrLineBreak)
{
    const std::string reason = okr::tool::systemReason(2); // ENOENT; ERROR_FILE_NOT_FOUND on Windows
    ASSERT_FALSE(reason.empty());
    EXPECT_NE("error 2", reason) << "the system has words for it";
    EXPECT_EQ(std::string::npos, reason.find_first_of("\r\n")) << reason;
    EXPECT_NE('.', reason.back()) << reason;
}

} // namespace
