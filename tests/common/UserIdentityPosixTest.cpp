#include "common/UserIdentity"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

TEST(CurrentUserSid, MapsTheEffectiveUnixUser)
{
    EXPECT_EQ("S-1-22-1-" + std::to_string(geteuid()), okr::common::currentUserSid());
}

TEST(CurrentUserSid, FollowsTheEffectiveUserNotTheRealOne)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "changing the effective user needs root";
    }
    // In a child, whose real user stays root.
    EXPECT_EXIT(
        {
            if (seteuid(54321) != 0) {
                std::_Exit(2);
            }
            std::fputs(okr::common::currentUserSid().c_str(), stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "^S-1-22-1-54321$");
}

} // namespace
