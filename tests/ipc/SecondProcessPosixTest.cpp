// The opening side as the product's other processes meet it: a view they
// cannot write through, of a block they may only read.

#include "common/SharedSyncInfo"
#include "ipc/SharedType"
#include "support/ChildProcess.h"
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

// What a tool deciding that a block is unused does: an exclusive flock(2),
// without waiting, from a process of its own.
bool anotherProcessCanLockExclusively(int fd)
{
    const pid_t child = fork();
    if (child == 0) {
        _exit(flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class FileOfName {
public:
    explicit FileOfName(const std::string& name) : fd(open(("/dev/shm/" + name).c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileOfName() { close(fd); }
    FileOfName(const FileOfName&) = delete;
    FileOfName& operator=(const FileOfName&) = delete;
    int fd;
};

TEST(SecondProcess, EveryMappingHoldsTheUserLockForAsLongAsItMapsTheBlock)
{
    for (const int mode : {1, opening}) {
        const std::string name = uniqueName("user-lock");
        BlockCleanup cleanup(name);
        writeBlock(name, std::vector<unsigned char>(sizeof(SharedSyncInfo)));
        const FileOfName file(name);
        ASSERT_LE(0, file.fd);
        auto* mapping = new okr::ipc::SharedType<SharedSyncInfo>(name, mode);
        mapping->create();

        EXPECT_FALSE(anotherProcessCanLockExclusively(file.fd)) << "mode " << mode;
        delete mapping;
        EXPECT_TRUE(anotherProcessCanLockExclusively(file.fd)) << "mode " << mode;
    }
}

// Someone found the block unused and holds it exclusively for a moment,
// perhaps to remove its name, and someone else may make another block under
// it meanwhile: an opener waits, then opens whatever the name means by then.
TEST(SecondProcess, AnOpenerWaitsOutWhoeverDecidesTheBlockIsUnused)
{
    enum class Then { released, removed, replaced };
    struct Case {
        int mode;
        Then then;
        bool opens;
    };
    for (const Case c :
         {Case{1, Then::released, true}, Case{opening, Then::released, true}, Case{1, Then::removed, true},
          Case{opening, Then::removed, false}, Case{1, Then::replaced, true}, Case{opening, Then::replaced, true}}) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << ", then " << static_cast<int>(c.then));
        const std::string name = uniqueName("unused");
        BlockCleanup cleanup(name);
        writeBlock(name, std::vector<unsigned char>(sizeof(SharedSyncInfo), 0x11));
        const FileOfName decider(name);
        ASSERT_EQ(0, flock(decider.fd, LOCK_EX | LOCK_NB));
        std::thread decision([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (c.then != Then::released) {
                removeBlock(name);
            }
            if (c.then == Then::replaced) {
                writeBlock(name, std::vector<unsigned char>(sizeof(SharedSyncInfo), 0x33));
            }
            flock(decider.fd, LOCK_UN);
        });
        okr::ipc::SharedType<SharedSyncInfo> opener(name, c.mode);
        bool opened = false;
        try {
            opened = opener.create();
        } catch (const okr::ipc::SharedException& e) {
            EXPECT_STREQ("Cannot open shared memory", e.what());
        }
        decision.join();

        EXPECT_EQ(c.opens, opened);
        if (opened) {
            writeBlock(name, std::vector<unsigned char>(sizeof(SharedSyncInfo), 0x22));
            EXPECT_EQ(0x22, static_cast<const unsigned char*>(opener.address())[sizeof(SharedSyncInfo) - 1])
                << "the block mapped is the one the name means";
        }
    }
}

} // namespace
