// The opening side as the product's other processes meet it: a view they
// cannot write through, of a block they may only read.

#include "common/SharedSyncInfo"
#include "ipc/SharedType"
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
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace okr::testing;

constexpr int opening = 0;
constexpr int strangerUid = 54321; // no passwd entry, not the block's owner

// The permissions ("r--s", "rw-s" ...) of this process's mapping that holds
// address, from /proc/self/maps.
std::string mappingPermissions(const void* address)
{
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        char* end = nullptr;
        const unsigned long long start = std::strtoull(line.c_str(), &end, 16);
        const unsigned long long stop = std::strtoull(end + 1, &end, 16);
        if (start <= at && at < stop) {
            return line.substr(static_cast<std::size_t>(end + 1 - line.c_str()), 4);
        }
    }
    return "no mapping";
}

TEST(SecondProcess, OpeningSideViewCannotBeWrittenThrough)
{
    const std::string name = uniqueName("view");
    BlockCleanup cleanup(name);
    const std::vector<unsigned char> bytes(16, 0x5A);
    writeBlock(name, bytes);
    okr::ipc::SharedType<SharedSyncInfo> reader(name, opening);
    reader.create();

    EXPECT_EQ("r--s", mappingPermissions(reader.address()));
    EXPECT_DEATH(*static_cast<volatile unsigned char*>(reader.address()) = 1, "")
        << "a child's write through the view must fault";
    EXPECT_EQ(bytes, readBlock(name));
}

TEST(SecondProcess, AnotherUserOpensABlockItMayOnlyRead)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "a block of root's for another user needs root";
    }
    const std::string name = uniqueName("foreign");
    BlockCleanup cleanup(name);
    writeBlock(name, std::vector<unsigned char>(16, 0xA5));
    ASSERT_EQ(0, chmod(("/dev/shm/" + name).c_str(), 0644));

    ChildProcess::Options options;
    options.runAsUser = strangerUid;
    ChildProcess reader(OKR_BLOCK_READER, {name}, options);
    const std::string output = reader.readRest();

    EXPECT_EQ(0, reader.wait()) << output;
    EXPECT_EQ("a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5\n", output);
}

// Every process of the product, whoever runs it, opens the blocks the check
// creates, whatever the creator's umask.
TEST(SecondProcess, CreatingSideMakesABlockEveryUserMayReadAndWrite)
{
    const std::string name = uniqueName("open-to-all");
    BlockCleanup cleanup(name);
    const mode_t before = umask(077);
    okr::ipc::SharedType<SharedSyncInfo> creator(name, 1);
    creator.create();
    umask(before);

    struct stat facts {};
    ASSERT_EQ(0, stat(("/dev/shm/" + name).c_str(), &facts));
    EXPECT_EQ(0666u, facts.st_mode & 07777u);
}

// What a tool deciding that a block is unused does, from a process of its own.
bool othersCanLockExclusively(int fd)
{
    const pid_t child = fork();
    if (child == 0) {
        _exit(flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return status == 0;
}

// Someone found the block unused and holds it exclusively for a moment, then
// lets go, or removes the name, and someone makes another block under it: an
// opener waits, maps what the name means by then, and holds the user lock
// for as long as it maps it. One who holds it longer does not hang the opener.
TEST(SecondProcess, AnOpenerWaitsOutWhoeverDecidesTheBlockIsUnused)
{
    enum Then { released, removed, replaced, heldPastPatience };
    for (const auto& c :
         {std::pair{1, released}, {opening, released}, {1, replaced}, {opening, removed}, {1, heldPastPatience}}) {
        const std::string name = uniqueName("unused");
        const std::string path = "/dev/shm/" + name;
        BlockCleanup cleanup(name);
        writeBlock(name, std::vector<unsigned char>(sizeof(SharedSyncInfo), 0x11));
        const int decider = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(0, flock(decider, LOCK_EX | LOCK_NB));
        std::thread decision([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.second == heldPastPatience ? 2500 : 200));
            if (c.second == removed || c.second == replaced) {
                removeBlock(name);
            }
            if (c.second == replaced) {
                writeBlock(name, std::vector<unsigned char>(sizeof(SharedSyncInfo), 0x33));
            }
            close(decider);
        });
        std::optional<okr::ipc::SharedType<SharedSyncInfo>> opener(std::in_place, name, c.first);
        bool opened = false;
        try {
            opened = opener->create();
        } catch (const okr::ipc::SharedException& e) {
            EXPECT_STREQ("Cannot open shared memory", e.what());
        }
        decision.join();
        ASSERT_EQ(c.second != removed && c.second != heldPastPatience, opened)
            << "mode " << c.first << ", then " << c.second;
        if (opened) {
            writeBlock(name, std::vector<unsigned char>(sizeof(SharedSyncInfo), 0x22));
            EXPECT_EQ(0x22, *static_cast<const unsigned char*>(opener->address())) << "the block the name means";
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_FALSE(othersCanLockExclusively(fd)) << "mode " << c.first << ", then " << c.second;
            opener.reset();
            EXPECT_TRUE(othersCanLockExclusively(fd)) << "mode " << c.first << ", then " << c.second;
            close(fd);
        }
    }
}

// A name that never again means the block opened (strace fails every look
// at it) is given up once the patience is out, not tried for ever.
TEST(SecondProcess, AnOpenerGivesUpANameThatNeverMeansTheBlockItOpened)
{
    const std::string name = uniqueName("elsewhere");
    BlockCleanup cleanup(name);
    writeBlock(name, std::vector<unsigned char>(sizeof(SharedSyncInfo), 0x11));
    const ProcessResult run = runCommand("timeout 20 " OKR_UNDER_STRACE "-P /dev/shm/" + name +
                                         " -e trace=/stat -e inject=/stat:error=ENOENT " OKR_BLOCK_READER " " + name);
    EXPECT_EQ("error: Cannot open shared memory\n", run.output);
}

} // namespace
