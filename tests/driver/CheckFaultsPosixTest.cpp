// Faults around a run of the console check: whatever goes wrong, the check
// ends with a documented line and status, never a crash, and touches no
// shared object but its own.

#include "support/CheckRunFixture.h"
#include "support/ChildProcess.h"
#include "support/DevShm.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace okr::testing;

const std::string check = OKR_CHECK_PROGRAM;
constexpr int strangerUid = 54321; // no passwd entry, no rights to root's files

std::vector<std::string> linesUntilEnd(ChildProcess& run)
{
    std::vector<std::string> lines;
    std::string line;
    while (run.readLine(line)) {
        lines.push_back(line);
    }
    return lines;
}

std::string fileContent(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CheckFault : public CheckRunFixture {
protected:
    static bool isRoot() { return geteuid() == 0; }
};

TEST_F(CheckFault, ClosedStandardOutputStillRemovesBothObjects)
{
    ChildProcess::Options options;
    options.noOutput = true;
    ChildProcess run(check, options);
    infoName = expectedInfoName(run.pid(), getuid());
    run.write("\n");

    EXPECT_EQ(0, run.wait());
    expectBothRemoved();
}

TEST_F(CheckFault, ClosedStandardInputCountsAsEndOfInput)
{
    ChildProcess::Options options;
    options.noInput = true;
    ChildProcess run(check, options);
    infoName = expectedInfoName(run.pid(), getuid());
    const std::vector<std::string> lines = linesUntilEnd(run);

    EXPECT_EQ(0, run.wait());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Press ENTER to finish test", lines.back());
    expectBothRemoved();
}

TEST_F(CheckFault, LeftoverSyncBlockOfWrongSizeIsResizedAndZeroed)
{
    {
        std::ofstream leftover("/dev/shm/okr-sync", std::ios::binary);
        leftover << std::string(100, '\xff');
    }
    ChildProcess run(check);
    ASSERT_TRUE(upToPrompt(run));

    EXPECT_EQ(16, shmSize("okr-sync"));
    EXPECT_EQ(std::string(16, '\0'), fileContent("/dev/shm/okr-sync"));
    run.write("\n");
    EXPECT_EQ(0, run.wait());
    EXPECT_FALSE(shmExists("okr-sync"));
}

TEST_F(CheckFault, SyncBlockOfAnotherUserIsLeftAloneWithAClearError)
{
    if (!isRoot()) {
        GTEST_SKIP() << "needs root to act as two users";
    }
    {
        std::ofstream foreign("/dev/shm/okr-sync", std::ios::binary);
        foreign << "belongs to root!";
    }
    chmod("/dev/shm/okr-sync", 0600);

    ChildProcess::Options options;
    options.runAsUser = strangerUid;
    ChildProcess run(check, options);
    infoName = expectedInfoName(run.pid(), strangerUid);
    const std::vector<std::string> lines = linesUntilEnd(run);

    EXPECT_EQ(1, run.wait());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("Creating sync file okr-sync", lines[lines.size() - 2]);
    EXPECT_EQ("Error: Cannot open shared memory", lines.back());
    EXPECT_EQ("belongs to root!", fileContent("/dev/shm/okr-sync")) << "another user's block is not touched";
    EXPECT_EQ(135880, shmSize(infoName));
}

TEST_F(CheckFault, UnreadableSharedFolderListsNothingAndTheRunGoesOn)
{
    if (!isRoot() || !ChildProcess::canIsolate()) {
        GTEST_SKIP() << "needs root for a private /dev/shm";
    }
    ChildProcess::Options options;
    options.isolateSharedMemory = true;
    options.sharedMemoryMode = "0333"; // blocks can be made, the folder not read
    options.runAsUser = strangerUid;
    ChildProcess run(check, options);
    run.write("\n");
    const std::vector<std::string> lines = linesUntilEnd(run);

    EXPECT_EQ(0, run.wait());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("List shared memory files", lines[lines.size() - 2]);
    EXPECT_EQ("Press ENTER to finish test", lines.back());
}

// On a /dev/shm with room for the information record only, or not even for
// that, the run stops with its error line after the record that does not
// fit, however much of the record it would go on to write.
class CheckOnFullSharedMemory : public CheckFault, public ::testing::WithParamInterface<bool> {};

TEST_P(CheckOnFullSharedMemory, StopsWithTheErrorLineInsteadOfCrashing)
{
    if (!isRoot() || !ChildProcess::canIsolate()) {
        GTEST_SKIP() << "needs root for a private /dev/shm";
    }
    const bool infoFits = GetParam();
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t infoBytes = (135880 + page - 1) / page * page;
    ChildProcess::Options options;
    options.isolateSharedMemory = true;
    options.sharedMemoryBytes = infoFits ? infoBytes : infoBytes / 2;
    ChildProcess run(check, options);
    run.write("\n"); // a run that wrongly succeeds ends rather than waits
    std::vector<std::string> expected = {"Creating info file " + expectedInfoName(run.pid(), getuid())};
    if (infoFits) {
        expected.emplace_back("Creating sync file okr-sync");
    }
    expected.emplace_back("Error: Cannot open shared memory");
    const std::vector<std::string> lines = linesUntilEnd(run);

    EXPECT_EQ(1, run.wait()) << "status 1, not a signal";
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(expected,
              std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(expected.size()), lines.end()));
}

INSTANTIATE_TEST_SUITE_P(FullSharedMemory, CheckOnFullSharedMemory, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "RoomForTheInfoRecordOnly" : "NoRoomForTheInfoRecord");
                         });

} // namespace
