#ifndef OKR_TESTS_CHECKRUNFIXTURE_H
#define OKR_TESTS_CHECKRUNFIXTURE_H

#include "ChildProcess.h"
#include "DevShm.h"
#include "PrivateSharedMemory.h"

#include <unistd.h>

#include <string>
#include <vector>

namespace okr {
namespace testing {

// A test that runs the console check in a /dev/shm of its own: it starts
// with no "okr-sync" there and removes whatever the run leaves, however the
// test ends.
class CheckRunFixture : public PrivateSharedMemory {
protected:
    void SetUp() override
    {
        PrivateSharedMemory::SetUp();
        ASSERT_FALSE(shmExists("okr-sync")) << "an earlier run left okr-sync behind";
    }
    void TearDown() override
    {
        unlink("/dev/shm/okr-sync");
        if (!infoName.empty()) {
            unlink(("/dev/shm/" + infoName).c_str());
        }
        PrivateSharedMemory::TearDown();
    }

    // Reads the run's output up to and including its prompt, and learns its
    // information record; a failure, quoting the run, when no prompt comes.
    ::testing::AssertionResult upToPrompt(ChildProcess& run, std::vector<std::string>& lines)
    {
        infoName = expectedInfoName(run.pid(), getuid());
        return run.readUpTo("Press ENTER to finish test", lines);
    }
    ::testing::AssertionResult upToPrompt(ChildProcess& run)
    {
        std::vector<std::string> lines;
        return upToPrompt(run, lines);
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
