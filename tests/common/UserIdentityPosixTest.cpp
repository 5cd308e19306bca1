#include "common/UserIdentity"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(CurrentUserSid, MapsTheEffectiveUnixUser)
{
    EXPECT_EQ("S-1-22-1-" + std::to_string(geteuid()), okr::common::currentUserSid());
}

} // namespace
