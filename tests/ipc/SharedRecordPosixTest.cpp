// SharedRecord where only POSIX lets a test arrange it: a /dev/shm of its own
// (full, or to be listed afterwards) and another user.

#include "helpers/PeerRecord.h"
#include "ipc/SharedRecord"
#include "support/ChildProcess.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using namespace okr::testing;
namespace recordError = okr::ipc::recordError;

constexpr int strangerUid = 54321; // no passwd entry, not the block's owner

bool canIsolate() { return geteuid() == 0 && ChildProcess::canIsolate(); }

// AddressSanitizer reads its options and, at exit, the process's threads
// from /proc: a sanitized peer cannot run without it.
#ifdef __SANITIZE_ADDRESS__
constexpr bool peersNeedProc = true;
#else
constexpr bool peersNeedProc = false;
#endif

// Commands run in a /dev/shm of their own, which is listed at the end (hidden
// names too): whatever fails, nothing is left behind but published records.
struct FolderCase {
    const char* label;
    std::size_t folderBytes; // 0: tmpfs's default
    const char* commands;    // "PEER" stands for okr-test-record-peer
    const char* output;
};

class RecordInPrivateFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(RecordInPrivateFolder, LeavesOnlyWhatItPublished)
{
    if (!canIsolate()) {
        GTEST_SKIP() << "needs root for a private /dev/shm";
    }
    const FolderCase& c = GetParam();
    if (peersNeedProc && std::string(c.label) == "WithoutProc") {
        GTEST_SKIP() << "a sanitized peer cannot end without /proc";
    }
    std::string script = c.commands;
    for (std::string::size_type at; (at = script.find("PEER")) != std::string::npos;) {
        script.replace(at, 4, OKR_RECORD_PEER);
    }
    ChildProcess::Options options;
    options.isolateSharedMemory = true;
    options.sharedMemoryBytes = c.folderBytes;
    options.noInput = true;
    ChildProcess run("/bin/sh", {"-c", script + "; ls -A /dev/shm"}, options);
    const std::string output = run.readRest();

    EXPECT_EQ(0, run.wait());
    EXPECT_EQ(c.output, output);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordInPrivateFolder,
    ::testing::Values(
        // Half the record fits: the reservation fails, not the first write.
        FolderCase{"FullFolder", sizeof(PeerRecord) / 2, "PEER create r 1; PEER openOrCreate r 1",
                   "error: No space left for shared memory\nerror: No space left for shared memory\n"},
        FolderCase{"LoserOfCreate", 0, "PEER openOrCreate r 1; PEER create r 2",
                   "00000001\nerror: Shared memory name already exists\nr\n"},
        FolderCase{"OwnerEnded", 0, "PEER create r 1; PEER open r 2",
                   "00000001\nerror: Shared memory name does not exist\n"},
        // Each way of publishing a new block, as the system may force it.
        FolderCase{"LoserThroughProc", 0,
                   "PEER --publish=proc openOrCreate r 1; PEER --publish=proc create r 2; PEER read r",
                   "00000001\nerror: Shared memory name already exists\n00000001\nr\n"},
        FolderCase{"LoserUnderHiddenName", 0,
                   "PEER --publish=hidden openOrCreate r 1; PEER --publish=hidden create r 2; PEER read r",
                   "00000001\nerror: Shared memory name already exists\n00000001\nr\n"},
        FolderCase{"WithoutProc", 0, "umount -l /proc && PEER --publish=proc openOrCreate r 1; PEER read r",
                   "00000001\n00000001\nr\n"},
        FolderCase{"FullFolderUnderHiddenName", sizeof(PeerRecord) / 2, "PEER --publish=hidden create r 1",
                   "error: No space left for shared memory\n"}),
    [](const ::testing::TestParamInfo<FolderCase>& param) { return std::string(param.param.label); });

TEST(RecordOfAnotherUser, OpeningItWithoutTheRightIsAccessDenied)
{
    if (!canIsolate()) {
        GTEST_SKIP() << "needs root to run as another user";
    }
    const std::string name = uniqueName("private");
    BlockCleanup cleanup(name);
    const std::vector<unsigned char> bytes(sizeof(PeerRecord), 0x11);
    writeBlock(name, bytes);
    ASSERT_EQ(0, chmod(("/dev/shm/" + name).c_str(), 0600));
    ChildProcess::Options options;
    options.runAsUser = strangerUid;
    options.noInput = true;
    ChildProcess run(OKR_RECORD_PEER, {"read", name}, options);
    const std::string output = run.readRest();

    EXPECT_EQ(1, run.wait());
    EXPECT_EQ(std::string("error: ") + recordError::accessDenied + "\n", output);
    EXPECT_EQ(bytes, readBlock(name));
}

} // namespace
