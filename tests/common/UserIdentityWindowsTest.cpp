#include "common/UserIdentity"

#include <gtest/gtest.h>

namespace {

TEST(CurrentUserSid, IsTheLoggedOnUsersSidInStringForm)
{
    const std::string sid = okr::common::currentUserSid();
    EXPECT_EQ(0u, sid.rfind("S-1-5-", 0)) << sid;
    EXPECT_EQ(std::string::npos, sid.find_first_not_of("S-0123456789")) << sid;
    EXPECT_EQ(sid, okr::common::currentUserSid()) << "the same user every time";
}

} // namespace
