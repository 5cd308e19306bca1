// SharedRecord where only POSIX lets a test arrange it: a /dev/shm of its own
// (full, or to be listed afterwards), another user, a killed or forked
// process, a FIFO, and the locks okr(3) lays out taken from outside.

#include "helpers/PeerRecord.h"
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
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace okr::testing;
namespace recordError = okr::ipc::recordError;
using okr::ipc::SharedRecord;

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

#define DENIED "error: Access to shared memory denied\n"

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
    for (std::string::size_type at; (at = script.find("STRANGER")) != std::string::npos;) {
        script.replace(at, 8,
                       "stat -c %a /dev/shm/r; setpriv --reuid=" + std::to_string(strangerUid) +
                           " --regid=" + std::to_string(strangerUid) +
                           " --clear-groups sh -c 'PEER read r; PEER open r 0x77; PEER remove r; " +
                           "truncate -s 70000 /dev/shm/r 2>/dev/null || echo refused'; stat -c %s /dev/shm/r");
    }
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
        // Built in a file no name shows (O_TMPFILE): nothing is seen until it is published.
        FolderCase{"NothingSeenWhileBuilding", 0,
                   "sleep 0.5 | PEER stall r | (read -r l; echo $l; ls -A /dev/shm; cat)", "building\npublished\n"},
        // A constructor's exception reaches its caller, whichever way the
        // block was to be published, and leaves nothing.
        FolderCase{"ThrowingConstructor", 0,
                   "PEER throw r; PEER --publish=proc throw r; PEER --publish=hidden throw r; PEER openOrCreate r 1",
                   "constructor failed\nconstructor failed\nconstructor failed\nconstructor failed\n"
                   "constructor failed\nconstructor failed\n00000001\nr\n"},
        // A FIFO under the name is refused at once, not waited on.
        FolderCase{"Fifo", 0,
                   "mkfifo /dev/shm/r; for v in read open openOrCreate takeOver; do timeout 5 PEER $v r; done",
                   "error: Cannot open shared memory\nerror: Cannot open shared memory\n"
                   "error: Cannot open shared memory\nerror: Cannot open shared memory\nr\n"},
        // Waits its whole timeout, but no longer than until the name appears,
        // even as it sets up its watch (strace holds it there).
        FolderCase{"WaitingOpen", 0,
                   "timeout 0.2 PEER wait r 400; echo $?; PEER wait r 100; (sleep 1; PEER openOrCreate r) & "
                   "timeout 5 " OKR_UNDER_STRACE
                   "-e trace=inotify_add_watch -e inject=inotify_add_watch:delay_enter=2000000 "
                   "PEER wait r 30000; wait",
                   "124\nerror: Shared memory name does not exist\n00000000\n00000000\nr\n"},
        // Other names appearing meanwhile (one as long as the folder allows,
        // whose notice fills the read), or a signal its handler takes,
        // neither end the wait nor change how it ends; such a name is seen
        // appearing too.
        FolderCase{"WaitingOpenAmongOtherNames", 0,
                   "n=$(printf %0255d 0); PEER wait r 400 & sleep 0.2; PEER openOrCreate $n 1; wait; PEER remove $n; "
                   "PEER wait $n 30000 & sleep 0.3; PEER openOrCreate $n; wait; PEER remove $n; "
                   "PEER wait q 3000 & sleep 0.5; kill -USR1 $!; sleep 0.2; PEER openOrCreate q 5; wait",
                   "00000001\nerror: Shared memory name does not exist\nremoved\n"
                   "00000000\n00000000\nremoved\n00000005\n00000005\nq\n"},
        // A program the owner starts inherits none of its locks (looked at
        // from a shell of its own: this one must never wait on a pipe).
        FolderCase{"LocksStayOutOfExec", 0,
                   "sh -c 'for way in hidden proc; do sleep 1 | PEER --publish=$way --hold create r 1 >/dev/null & "
                   "sleep 0.5; for f in /proc/$!/fd/*; do case $(readlink $f) in /dev/shm/*) "
                   "[ $((0$(sed -n \"s/^flags:\\t//p\" /proc/$!/fdinfo/${f##*/}) & 02000000)) = 0 ] && echo inherited "
                   "|| echo closed;; esac; done; wait; done'",
                   "closed\nclosed\n"},
        // Fd 3 stands for okr-shm clean deciding the block is unused: an
        // opener waits a bounded while, then maps what the name means.
        FolderCase{"OpenerMeetsAnUnusedCheck", 0,
                   "PEER openOrCreate r 1; exec 3</dev/shm/r; flock -x 3; PEER read r 3<&-; PEER read r 3<&- & "
                   "sleep 0.3; rm /dev/shm/r; PEER openOrCreate r 2 3<&-; exec 3<&-; wait",
                   "00000001\nerror: Cannot open shared memory\n00000002\n00000002\nr\n"},
        // A name that never again means the block opened (strace fails each
        // look at the name) is given up once the patience is out.
        FolderCase{"NameNeverMeansTheBlockOpened", 0,
                   "PEER openOrCreate r 1; timeout 20 " OKR_UNDER_STRACE
                   "-P /dev/shm/r -e trace=/stat -e inject=/stat:error=ENOENT:when=2+2 PEER read r",
                   "00000001\nerror: Cannot open shared memory\nr\n"},
        // A name another hand removed while remove() was about to (strace
        // holds it there) was not there to remove: no failure.
        FolderCase{"RemovalOfANameGoneMeanwhile", 0,
                   "PEER openOrCreate r 1; " OKR_UNDER_STRACE
                   "-e trace=/^unlink -e inject=/^unlink:delay_enter=1000000 "
                   "PEER remove r & sleep 0.5; rm /dev/shm/r; wait",
                   "00000001\nnone\n"},
        // Another user reaches a record only as far as its access, applied
        // whatever the umask, lets it: reading, writing, resizing; never
        // removing it from the sticky folder, and told so.
        FolderCase{"UserAccess", 0, "umask 077; PEER openOrCreate r 1; STRANGER",
                   "00000001\n600\n" DENIED DENIED DENIED "refused\n65536\nr\n"},
        FolderCase{"GroupAccess", 0, "umask 077; PEER --access=group openOrCreate r 1; STRANGER",
                   "00000001\n660\n" DENIED DENIED DENIED "refused\n65536\nr\n"},
        FolderCase{"EveryoneAccess", 0, "umask 077; PEER --access=everyone openOrCreate r 1; STRANGER",
                   "00000001\n666\n00000001\n00000077\n" DENIED "70000\nr\n"}),
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
std::string error(const char* text) { return std::string("error: ") + text + "\n"; }

TEST(RecordTakeOver, ReadersCarryOnWithTheNewOwnerOfAKilledOnesRecord)
{
    const std::string name = uniqueName("takeover");
    BlockCleanup cleanup(name);
    ChildProcess owner(OKR_RECORD_PEER, {"--hold", "create", name, "0x1"}, ChildProcess::Options());
    std::string line;
    ASSERT_TRUE(owner.readLine(line));
    const int fd = open(shmPath(name).c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_NE(0, flock(fd, LOCK_EX | LOCK_NB)) << "a mapped record taken for unused";
    const auto reader = SharedRecord<PeerRecord>::openReadOnly(name);
    const std::string takeOver = std::string(OKR_RECORD_PEER) + " takeOver " + name + " 0x9";
    EXPECT_EQ(error(recordError::ownerAlive), runCommand(takeOver).output);
    struct flock ownerLock = {F_WRLCK, SEEK_SET, 1, 1, 0}; // byte 1, as okr(3) gives it
    EXPECT_NE(0, fcntl(fd, F_OFD_SETLK, &ownerLock)) << "the owner holds its lock where other tools look";

    kill(owner.pid(), SIGKILL);
    EXPECT_EQ(-SIGKILL, owner.wait());
    ChildProcess successor(OKR_RECORD_PEER, {"--hold", "takeOver", name, "0x2"}, ChildProcess::Options());
    ASSERT_TRUE(successor.readLine(line));
    EXPECT_EQ(2u, reader->value);
    EXPECT_EQ(2u, reader->visits) << "the record was built anew, not taken over";
    EXPECT_TRUE(reader.isCurrent());
    EXPECT_EQ(error(recordError::ownerAlive), runCommand(takeOver).output) << "the successor holds no owner lock";
    // Whoever holds the name lock is removing the name: the owner's end leaves it to them. Byte 2,
    // as okr(3) gives it to other tools, not the library's constant: a layout changed fails here.
    struct flock nameLock = {F_WRLCK, SEEK_SET, 2, 1, 0};
    EXPECT_EQ(0, fcntl(fd, F_OFD_SETLK, &nameLock)) << std::strerror(errno);
    successor.closeInput();
    EXPECT_EQ(0, successor.wait());
    EXPECT_TRUE(reader.isCurrent());
    close(fd);
}

// The descriptor of a folder watch the process holds, or -1.
int watchDescriptor()
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == "anon_inode:inotify") {
            return std::stoi(entry.path().filename().string());
        }
    }
    return -1;
}

// A name moved into the folder (a peer that builds its record aside and
// renames it) ends a wait as a name made there does. The wait's watch, like
// every descriptor the library holds, is not handed to a program another
// thread starts meanwhile.
TEST(RecordWait, AWaitSeesANameMovedIn)
{
    const std::string name = uniqueName("moved");
    const std::string aside = name + "-aside";
    BlockCleanup cleanup(name);
    BlockCleanup cleanupAside(aside);
    std::optional<SharedRecord<PeerRecord>> maker;
    std::thread mover([&] {
        int watch = -1;
        for (int tries = 0; watch < 0 && tries < 1000; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            watch = watchDescriptor();
        }
        EXPECT_EQ(FD_CLOEXEC, watch < 0 ? -1 : fcntl(watch, F_GETFD)) << "watch " << watch;
        maker.emplace(SharedRecord<PeerRecord>::create(aside));
        EXPECT_EQ(0, std::rename(shmPath(aside).c_str(), shmPath(name).c_str()));
    });
    EXPECT_NO_THROW(SharedRecord<PeerRecord>::openReadOnly(name, std::chrono::seconds(10)));
    mover.join();
}

// Another remover holds the name lock (byte 2, as okr(3) gives it): remove()
// waits for it a moment and then removes the name itself; one that never
// lets go makes it fail in a bounded while, not hang.
TEST(RecordRemove, WaitsAMomentForAnotherRemover)
{
    const std::string name = uniqueName("remover");
    BlockCleanup cleanup(name);
    const auto removal = [&name]() -> std::string {
        try {
            return SharedRecord<PeerRecord>::remove(name) ? "removed" : "missing";
        } catch (const okr::ipc::SharedException& e) {
            return e.what();
        }
    };
    const std::pair<std::chrono::milliseconds, std::string> removers[] = {
        {std::chrono::milliseconds(300), "removed"}, {std::chrono::milliseconds(10000), recordError::cannotOpen}};
    for (const auto& [held, expected] : removers) {
        const auto owner = SharedRecord<PeerRecord>::create(name);
        const int fd = open(shmPath(name).c_str(), O_RDWR | O_CLOEXEC);
        struct flock nameLock = {F_WRLCK, SEEK_SET, 2, 1, 0};
        EXPECT_EQ(0, fcntl(fd, F_OFD_SETLK, &nameLock)) << std::strerror(errno);
        std::promise<void> done;
        std::thread remover([fd, held = held, finished = done.get_future()] {
            finished.wait_for(held);
            close(fd);
        });
        const std::string result = removal();
        done.set_value();
        remover.join();
        EXPECT_EQ(expected, result) << "another remover's lock held for " << held.count() << " ms";
    }
}

// Over two generations: the child's own record, made after the fork, stays
// its own against its child.
TEST(RecordOwner, AForkedChildsEndLeavesItsParentsName)
{
    const std::string name = uniqueName("fork");
    const std::string childs = name + "-child";
    BlockCleanup cleanup(name);
    BlockCleanup childsCleanup(childs);
    auto owner = SharedRecord<PeerRecord>::create(name);
    const pid_t child = fork();
    if (child == 0) {
        {
            const auto copy = std::move(owner);
        }
        auto own = SharedRecord<PeerRecord>::create(childs);
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            {
                const auto copy = std::move(own);
            }
            _exit(0);
        }
        _exit(waitpid(grandchild, nullptr, 0) == grandchild && blockExists(childs) ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ(0, status) << "the grandchild's end took its parent's name";
    EXPECT_TRUE(blockExists(name));
}

// A process that loses create again and again must not run out of
// descriptors, nor one that runs with its input closed (as daemons do), in
// which descriptor 0 is a block's like any other.
TEST(RecordOwner, ALostCreateLeavesNoDescriptorOpen)
{
    const std::string name = uniqueName("lost");
    BlockCleanup cleanup(name);
    const auto owner = SharedRecord<PeerRecord>::create(name);
    const auto open = [] {
        namespace fs = std::filesystem;
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = open();
    EXPECT_THROW(SharedRecord<PeerRecord>::create(name), okr::ipc::SharedException);
    EXPECT_EQ(before, open());
    const int input = dup(STDIN_FILENO);
    close(STDIN_FILENO);
    EXPECT_THROW(SharedRecord<PeerRecord>::create(name), okr::ipc::SharedException);
    EXPECT_TRUE(SharedRecord<PeerRecord>::remove(name));
    const bool closed = fcntl(STDIN_FILENO, F_GETFD) < 0;
    dup2(input, STDIN_FILENO);
    close(input);
    EXPECT_TRUE(closed) << "descriptor 0 left open";
}

} // namespace
