#ifndef OKR_TESTS_CHECKRUNFIXTURE_H
#define OKR_TESTS_CHECKRUNFIXTURE_H

#include "DevShm.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace okr {
namespace testing {

// A test that runs the console check: it starts with no "okr-sync" in
// /dev/shm and removes whatever the run leaves, however the test ends.
class CheckRunFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(shmExists("okr-sync")) << "an earlier run left okr-sync behind"; }
    void TearDown() override
    {
        unlink("/dev/shm/okr-sync");
        if (!infoName.empty()) {
            unlink(("/dev/shm/" + infoName).c_str());
        }
    }

    // Neither of the run's objects is left behind.
    void expectBothRemoved() const
    {
        EXPECT_FALSE(shmExists("okr-sync"));
        EXPECT_FALSE(shmExists(infoName));
    }

    // The run's information record, once the test knows it.
    std::string infoName;
};

} // namespace testing
} // namespace okr

#endif
