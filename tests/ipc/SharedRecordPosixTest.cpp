// SharedRecord where only POSIX lets a test arrange it: a /dev/shm of its own
// (full, or to be listed afterwards), another user, a killed or forked
// process, a FIFO, and the locks of ipc/RecordLocks.h seen from outside.

#include "helpers/PeerRecord.h"
#include "ipc/RecordLocks.h"
#include "ipc/SharedRecord"
#include "support/ChildProcess.h"
#include "support/ProcessRunner.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace okr::testing;
namespace recordError = okr::ipc::recordError;
using okr::ipc::RecordAccess;
using okr::ipc::SharedException;
using okr::ipc::SharedRecord;
using Clock = std::chrono::steady_clock;

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
                   "error: No space left for shared memory\n"},
        // A constructor's exception passes, and leaves no block, named or hidden.
        FolderCase{"ThrowingConstructor", 0, "PEER throw r; PEER --publish=proc throw r; PEER --publish=hidden throw r",
                   "thrown\nthrown\nthrown\n"}),
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

std::string shmPath(const std::string& name) { return "/dev/shm/" + name; }

// A record's bytes as the peer's constructor leaves them, but value.
std::vector<unsigned char> peerBytes(std::uint32_t value)
{
    const PeerRecord record;
    std::vector<unsigned char> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    std::memcpy(bytes.data() + offsetof(PeerRecord, value), &value, sizeof value);
    return bytes;
}

// The type of the lock someone else holds on byte of the file open on fd.
short byteLock(int fd, std::uint64_t byte)
{
    struct flock query = {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = static_cast<off_t>(byte);
    query.l_len = 1;
    EXPECT_EQ(0, fcntl(fd, F_OFD_GETLK, &query)) << std::strerror(errno);
    return query.l_type;
}

// What another tool sees of a process that maps a record: the user lock
// always, the owner lock only while it owns the name, never the name lock.
struct LockCase {
    const char* verb;
    bool existsBefore;
    bool owner;
};

class RecordLocksSeenFromOutside : public ::testing::TestWithParam<LockCase> {};

TEST_P(RecordLocksSeenFromOutside, HeldForAsLongAsTheBlockIsMapped)
{
    const LockCase& c = GetParam();
    const std::string name = uniqueName(c.verb);
    BlockCleanup cleanup(name);
    if (c.existsBefore) {
        writeBlock(name, peerBytes(5));
    }
    ChildProcess peer(OKR_RECORD_PEER, {"--hold", c.verb, name, "0x5"}, ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(peer.readLine(line));
    ASSERT_EQ("00000005", line);
    const int fd = open(shmPath(name).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_LE(0, fd) << std::strerror(errno);

    EXPECT_NE(0, flock(fd, LOCK_EX | LOCK_NB)) << "taken for unused while mapped";
    EXPECT_EQ(c.owner ? F_WRLCK : F_UNLCK, byteLock(fd, okr::ipc::recordLocks::ownerByte));
    EXPECT_EQ(F_UNLCK, byteLock(fd, okr::ipc::recordLocks::nameByte));
    peer.closeInput();
    EXPECT_EQ(0, peer.wait());
    EXPECT_EQ(0, flock(fd, LOCK_EX | LOCK_NB)) << "still held after the end";
    EXPECT_EQ(F_UNLCK, byteLock(fd, okr::ipc::recordLocks::ownerByte));
    close(fd);
}

INSTANTIATE_TEST_SUITE_P(Verbs, RecordLocksSeenFromOutside,
                         ::testing::Values(LockCase{"create", false, true}, LockCase{"openOrCreate", false, false},
                                           LockCase{"openOrCreate", true, false}, LockCase{"open", true, false},
                                           LockCase{"read", true, false}, LockCase{"takeOver", true, true}),
                         [](const ::testing::TestParamInfo<LockCase>& param) {
                             return std::string(param.param.verb) + (param.param.existsBefore ? "Existing" : "New");
                         });

// Someone deciding a block is unused holds flock LOCK_EX: an opener waits a
// bounded while, then maps what the name means once it let go.
struct UnusedCase {
    const char* label;
    bool removes;  // the decider removes the name ...
    bool replaces; // ... and someone makes another block under it
    bool letsGo;   // false: LOCK_EX outlasts the opener's patience
    const char* output;
};

class RecordBeingDecidedUnused : public ::testing::TestWithParam<UnusedCase> {};

TEST_P(RecordBeingDecidedUnused, OpenerMapsWhatTheNameMeansAfterwards)
{
    const UnusedCase& c = GetParam();
    const std::string name = uniqueName(c.label);
    BlockCleanup cleanup(name);
    writeBlock(name, peerBytes(1));
    const int fd = open(shmPath(name).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_LE(0, fd) << std::strerror(errno);
    ASSERT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));

    ChildProcess::Options options;
    options.noInput = true;
    ChildProcess peer(OKR_RECORD_PEER, {"read", name}, options);
    // The peer meets the lock meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (c.removes) {
        ASSERT_EQ(0, unlink(shmPath(name).c_str()));
    }
    if (c.replaces) {
        writeBlock(name, peerBytes(2));
    }
    if (c.letsGo) {
        close(fd);
    }
    const std::string output = peer.readRest();
    if (!c.letsGo) {
        close(fd);
    }

    EXPECT_EQ(c.output, output);
    EXPECT_EQ(std::string(c.output).compare(0, 6, "error:") == 0 ? 1 : 0, peer.wait());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordBeingDecidedUnused,
    ::testing::Values(UnusedCase{"Kept", false, false, true, "00000001\n"},
                      UnusedCase{"Removed", true, false, true, "error: Shared memory name does not exist\n"},
                      UnusedCase{"Replaced", true, true, true, "00000002\n"},
                      UnusedCase{"NeverLetGo", false, false, false, "error: Cannot open shared memory\n"}),
    [](const ::testing::TestParamInfo<UnusedCase>& param) { return std::string(param.param.label); });

// Whoever holds a block's name lock is removing its name: neither the
// owner's end nor remove() takes it from under them.
struct NameLockCase {
    const char* label;
    const char* command; // run by sh; PEER and NAME stand for themselves
    const char* output;  // after the lock is taken
    int status;
};

class RecordNameLockHeld : public ::testing::TestWithParam<NameLockCase> {};

TEST_P(RecordNameLockHeld, NameIsLeftToItsHolder)
{
    const NameLockCase& c = GetParam();
    const std::string name = uniqueName(c.label);
    BlockCleanup cleanup(name);
    writeBlock(name, peerBytes(5));
    std::string script = c.command;
    script.replace(script.find("PEER"), 4, OKR_RECORD_PEER);
    script.replace(script.find("NAME"), 4, name);
    ChildProcess peer("/bin/sh", {"-c", script}, ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(peer.readLine(line));
    const int fd = open(shmPath(name).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_LE(0, fd) << std::strerror(errno);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(okr::ipc::recordLocks::nameByte);
    lock.l_len = 1;
    ASSERT_EQ(0, fcntl(fd, F_OFD_SETLK, &lock)) << std::strerror(errno);
    peer.closeInput();

    EXPECT_EQ(c.output, peer.readRest());
    EXPECT_EQ(c.status, peer.wait());
    EXPECT_TRUE(blockExists(name));
    close(fd);
}

INSTANTIATE_TEST_SUITE_P(Removers, RecordNameLockHeld,
                         ::testing::Values(NameLockCase{"OwnersEnd", "exec PEER --hold takeOver NAME 0x5", "", 0},
                                           NameLockCase{"Remove", "echo ready; read x; exec PEER remove NAME",
                                                        "error: Cannot open shared memory\n", 1}),
                         [](const ::testing::TestParamInfo<NameLockCase>& param) {
                             return std::string(param.param.label);
                         });

TEST(RecordTakeOver, ReadersCarryOnWithTheNewOwnerOfAKilledOnesRecord)
{
    const std::string name = uniqueName("takeover");
    BlockCleanup cleanup(name);
    ChildProcess owner(OKR_RECORD_PEER, {"--hold", "create", name, "0x1"}, ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(owner.readLine(line));
    const auto reader = SharedRecord<PeerRecord>::openReadOnly(name);
    const ProcessResult whileAlive = runCommand(std::string(OKR_RECORD_PEER) + " takeOver " + name + " 0x9");
    EXPECT_EQ(std::string("error: ") + recordError::ownerAlive + "\n", whileAlive.output);
    try {
        SharedRecord<PeerRecord>::takeOver(name);
        ADD_FAILURE() << "took over from a live owner";
    } catch (const SharedException& e) {
        EXPECT_STREQ(recordError::ownerAlive, e.what());
    }

    kill(owner.pid(), SIGKILL);
    EXPECT_EQ(-SIGKILL, owner.wait());
    ChildProcess successor(OKR_RECORD_PEER, {"--hold", "takeOver", name, "0x2"}, ChildProcess::Options());
    ASSERT_TRUE(successor.readLine(line));
    EXPECT_EQ("00000002", line);

    EXPECT_EQ(2u, reader->value);
    EXPECT_EQ(2u, reader->visits) << "the record was built anew, not taken over";
    EXPECT_TRUE(reader.isCurrent());
    successor.closeInput();
    EXPECT_EQ(0, successor.wait());
    EXPECT_FALSE(blockExists(name)) << "the successor owns the name";
    EXPECT_FALSE(reader.isCurrent());
}

TEST(RecordOwner, AForkedChildsEndLeavesItsParentsName)
{
    const std::string name = uniqueName("fork");
    BlockCleanup cleanup(name);
    auto owner = SharedRecord<PeerRecord>::create(name);
    const pid_t child = fork();
    if (child == 0) {
        {
            const auto copy = std::move(owner);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(blockExists(name));
    EXPECT_TRUE(owner.isCurrent());
}

// Another user reaches a record only as far as its access lets it: mode
// exactly as asked whatever the umask; opening, writing and resizing.
struct AccessCase {
    const char* label;
    RecordAccess access;
    mode_t mode;
};

class RecordOfAnotherUserByAccess : public ::testing::TestWithParam<AccessCase> {};

TEST_P(RecordOfAnotherUserByAccess, OtherUsersReachItOnlyWhenAllowed)
{
    if (!canIsolate()) {
        GTEST_SKIP() << "needs root to run as another user";
    }
    const AccessCase& c = GetParam();
    const std::string name = uniqueName("access");
    BlockCleanup cleanup(name);
    const mode_t umaskBefore = umask(077);
    auto record = SharedRecord<PeerRecord>::create(name, c.access);
    umask(umaskBefore);
    struct stat st = {};
    ASSERT_EQ(0, stat(shmPath(name).c_str(), &st));
    EXPECT_EQ(c.mode, st.st_mode & 07777);

    ChildProcess::Options options;
    options.runAsUser = strangerUid;
    options.noInput = true;
    const std::string path = shmPath(name);
    ChildProcess run("/bin/sh",
                     {"-c", std::string(OKR_RECORD_PEER) + " read " + name + "; " + OKR_RECORD_PEER + " open " + name +
                                " 0x77; truncate -s 70000 " + path + " 2>/dev/null || echo refused"},
                     options);

    const bool reached = c.access == RecordAccess::everyone;
    const std::string denied = std::string("error: ") + recordError::accessDenied + "\n";
    EXPECT_EQ(reached ? "00000000\n00000077\n" : denied + denied + "refused\n", run.readRest());
    EXPECT_EQ(0, run.wait());
    EXPECT_EQ(reached ? 0x77u : 0u, record->value);
    EXPECT_EQ(reached ? 70000u : sizeof(PeerRecord), blockSize(name));
}

INSTANTIATE_TEST_SUITE_P(Access, RecordOfAnotherUserByAccess,
                         ::testing::Values(AccessCase{"user", RecordAccess::user, 0600},
                                           AccessCase{"group", RecordAccess::group, 0660},
                                           AccessCase{"everyone", RecordAccess::everyone, 0666}),
                         [](const ::testing::TestParamInfo<AccessCase>& param) {
                             return std::string(param.param.label);
                         });

TEST(RecordWaitingOpen, EndsWhenTheNameAppearsOrAtItsTimeout)
{
    const std::string name = uniqueName("wait");
    BlockCleanup cleanup(name);
    auto started = Clock::now();
    const ProcessResult missing = runCommand(std::string(OKR_RECORD_PEER) + " wait " + name + " 300");
    const auto waited = Clock::now() - started;
    EXPECT_EQ(std::string("error: ") + recordError::nameMissing + "\n", missing.output);
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(3));

    ChildProcess::Options options;
    options.noInput = true;
    ChildProcess waiter(OKR_RECORD_PEER, {"wait", name, "20000"}, options);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    started = Clock::now();
    const auto record = SharedRecord<PeerRecord>::create(name);
    EXPECT_EQ("00000000\n", waiter.readRest());
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3)) << "woken by the timeout, not the name";
    EXPECT_EQ(0, waiter.wait());
}

// A FIFO under the name is refused at once, not waited on, and left alone.
class RecordNameOfAFifo : public ::testing::TestWithParam<const char*> {};

TEST_P(RecordNameOfAFifo, IsRefusedAtOnce)
{
    const std::string name = uniqueName(GetParam());
    ASSERT_EQ(0, mkfifo(shmPath(name).c_str(), 0666));
    ChildProcess::Options options;
    options.noInput = true;
    ChildProcess run(OKR_RECORD_PEER, {GetParam(), name, "1"}, options);

    EXPECT_EQ(std::string("error: ") + recordError::cannotOpen + "\n", run.readRest());
    EXPECT_EQ(1, run.wait());
    struct stat st = {};
    EXPECT_EQ(0, lstat(shmPath(name).c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    unlink(shmPath(name).c_str());
}

INSTANTIATE_TEST_SUITE_P(Verbs, RecordNameOfAFifo, ::testing::Values("read", "open", "openOrCreate", "takeOver"));

} // namespace
