// On Windows every block is a file in Boost.Interprocess's shared folder,
// which this library composes. These tests look at that folder directly.

#include "ipc/BlockLock.h"
#include "ipc/BootStamp.h"
#include "ipc/SharedRecord"
#include "ipc/SharedType"
#include "support/ShmTestSupport.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>
#include <boost/interprocess/detail/win32_api.hpp>

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace okr::testing;

std::string sharedFolder()
{
    std::string folder;
    boost::interprocess::ipcdetail::get_shared_dir(folder);
    return folder;
}

TEST(SharedFolderWindows, IsCommonAppDataBoostInterprocessAndTheBootStamp)
{
    std::string root;
    boost::interprocess::winapi::get_shared_documents_folder(root);
    ASSERT_FALSE(root.empty());
    const std::string folder = sharedFolder();

    EXPECT_EQ(0u, folder.rfind(root + "/boost_interprocess/", 0)) << folder;
    const std::string stamp = folder.substr(root.size() + std::string("/boost_interprocess/").size());
    EXPECT_EQ(std::string::npos, stamp.find_first_not_of("0123456789")) << "stamp: " << stamp;
    EXPECT_TRUE(fs::is_directory(folder)) << "both levels are created";
}

TEST(SharedFolderWindows, SameFolderForTheLifeOfTheProcess) { EXPECT_EQ(sharedFolder(), sharedFolder()); }

TEST(SharedFolderWindows, BlockIsAFileOfItsNameInTheFolder)
{
    const std::string name = uniqueName("file");
    BlockCleanup cleanup(name);
    {
        okr::ipc::SharedTypeBase block(name, 1);
        block.create(135880);
        const fs::path file = fs::path(sharedFolder()) / name;
        ASSERT_TRUE(fs::is_regular_file(file));
        EXPECT_EQ(135880u, fs::file_size(file));
    }
    EXPECT_FALSE(fs::exists(fs::path(sharedFolder()) / name)) << "deleting the object removes the file";
}

TEST(SharedFolderWindows, RefusedNamesCreateNothingOutsideTheFolder)
{
    const fs::path parent = fs::path(sharedFolder()).parent_path();
    const std::string escape = uniqueName("escape");
    okr::ipc::SharedTypeBase outside("..\\" + escape, 1);
    EXPECT_THROW(outside.create(16), okr::ipc::SharedException);
    EXPECT_FALSE(fs::exists(parent / escape));
}

namespace bip = boost::interprocess;

// Whoever decides that a block is unused: the exclusive user lock, taken
// (or given back) on a handle of its own, on the byte okr(3) gives other
// tools (0x7FFFFFFF00000000), not the library's constant.
bool judgeUnused(const bip::shared_memory_object& judge, bool take)
{
    OVERLAPPED at = {};
    at.Offset = 0;
    at.OffsetHigh = 0x7FFFFFFF;
    const HANDLE file = judge.get_mapping_handle().handle;
    return take ? LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0
                : UnlockFileEx(file, 0, 1, 0, &at) != 0;
}

// SharedRecord's mappings hold the user lock for their life, and none
// arrives while someone holds it exclusively.
TEST(SharedFolderWindows, UserLockOfRecords)
{
    using Record = okr::ipc::SharedRecord<std::uint64_t>;
    const std::string name = uniqueName("recordlock");
    BlockCleanup cleanup(name);
    Record::openOrCreate(name);
    const bip::shared_memory_object judge(bip::open_only, name.c_str(), bip::read_only);
    ASSERT_TRUE(judgeUnused(judge, true)) << "no mapping left, no user";
    EXPECT_THROW(Record::open(name), okr::ipc::SharedException) << "a user arrived while it was held exclusively";
    judgeUnused(judge, false);
    auto record = Record::open(name);
    EXPECT_FALSE(judgeUnused(judge, true)) << "a mapping without the user lock";
    EXPECT_TRUE(record.isCurrent());
    EXPECT_TRUE(Record::remove(name));
    EXPECT_FALSE(record.isCurrent());
}

// A folder under a record's name is neither the record nor its absence:
// each call refuses it as access denied, and it stays.
TEST(SharedFolderWindows, AFolderUnderARecordsNameIsRefusedNotTakenForMissing)
{
    using Record = okr::ipc::SharedRecord<std::uint64_t>;
    const std::string name = uniqueName("folder");
    const fs::path folder = fs::path(sharedFolder()) / name;
    ASSERT_TRUE(fs::create_directory(folder));
    void (*const calls[])(const std::string&) = {
        [](const std::string& n) { Record::open(n); }, [](const std::string& n) { Record::openReadOnly(n); },
        [](const std::string& n) { Record::openOrCreate(n); }, [](const std::string& n) { Record::remove(n); }};
    for (std::size_t call = 0; call < std::size(calls); ++call) {
        try {
            calls[call](name);
            ADD_FAILURE() << "call " << call << " took the folder for a record";
        } catch (const okr::ipc::SharedException& e) {
            EXPECT_EQ(okr::ipc::SharedError::accessDenied, e.code()) << call << ": " << e.what();
        }
    }
    EXPECT_TRUE(fs::is_directory(folder));
    fs::remove(folder);
}

// SharedType's user lock: refused while someone decides the block is
// unused, shared by its users; the name checked against the very file.
TEST(SharedFolderWindows, UserLockOfSharedTypeBlocks)
{
    const std::string name = uniqueName("userlock");
    BlockCleanup cleanup(name);
    bip::shared_memory_object shm(bip::create_only, name.c_str(), bip::read_write);
    shm.truncate(16);
    const bip::shared_memory_object judge(bip::open_only, name.c_str(), bip::read_only);
    ASSERT_TRUE(judgeUnused(judge, true));
    EXPECT_FALSE(okr::ipc::tryTakeUserLock(shm)) << "taken beside an exclusive holder";
    judgeUnused(judge, false);
    EXPECT_TRUE(okr::ipc::tryTakeUserLock(shm));
    const bip::shared_memory_object other(bip::open_only, name.c_str(), bip::read_only);
    EXPECT_TRUE(okr::ipc::tryTakeUserLock(other)) << "users share it";
    EXPECT_FALSE(judgeUnused(judge, true)) << "a user holds it";
    EXPECT_TRUE(okr::ipc::nameStillMeans(name, shm));
    bip::shared_memory_object::remove(name.c_str());
    bip::shared_memory_object(bip::create_only, name.c_str(), bip::read_write).truncate(16);
    EXPECT_FALSE(okr::ipc::nameStillMeans(name, shm)) << "the name means another block now";
}

// The views of files this process has mapped, counted region by region.
std::size_t mappedViews()
{
    std::size_t count = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) != 0;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        count += region.Type == MEM_MAPPED ? 1 : 0;
    }
    return count;
}

// The view an open mapped before it failed goes with it: a process that
// asks again and again to take over a live owner's record keeps none.
TEST(SharedFolderWindows, AFailedTakeOverLeavesNoViewMapped)
{
    using Record = okr::ipc::SharedRecord<std::uint64_t>;
    const std::string name = uniqueName("view");
    BlockCleanup cleanup(name);
    const auto owner = Record::create(name);
    const std::size_t before = mappedViews();
    for (int tries = 0; tries < 20; ++tries) {
        EXPECT_THROW(Record::takeOver(name), okr::ipc::SharedException);
    }
    EXPECT_LT(mappedViews(), before + 10) << "views left by 20 failed take-overs";
}

// Others changing the folder, on threads of their own, until it goes: each
// change wakes every waiting open, not only one for its name.
class FolderChurn {
public:
    explicit FolderChurn(const std::string& name)
    {
        for (int churner = 0; churner < 4; ++churner) {
            churners.emplace_back([this, path = sharedFolder() + "/" + name + "-" + std::to_string(churner)] {
                while (!done) {
                    CloseHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
                    DeleteFileA(path.c_str());
                }
            });
        }
    }
    FolderChurn(const FolderChurn&) = delete;
    FolderChurn& operator=(const FolderChurn&) = delete;
    ~FolderChurn()
    {
        done = true;
        for (std::thread& churner : churners) {
            churner.join();
        }
    }

private:
    std::atomic<bool> done{false};
    std::vector<std::thread> churners;
};

// While others keep changing the folder, a wait still ends when its timeout
// says, not once the folder falls quiet.
TEST(SharedFolderWindows, AWaitingOpenEndsOnTimeInABusyFolder)
{
    const std::string name = uniqueName("busy");
    const FolderChurn churn(name);
    for (int wait = 0; wait < 5; ++wait) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(okr::ipc::SharedRecord<std::uint64_t>::openReadOnly(name, std::chrono::milliseconds(50)),
                     okr::ipc::SharedException);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "a wait of 50 ms";
    }
}

// The handles this process has open, counted one by one: Wine answers
// GetProcessHandleCount with 0.
std::size_t openHandles()
{
    std::size_t count = 0;
    DWORD flags = 0;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
        }
    }
    return count;
}

// A waiting open watches the folder through a handle that ends with it,
// however its waits went: threads that come and go, each waiting once in a
// quiet folder or a busy one, leave none behind (the handle once lived as
// long as its thread, whose end closed freed memory instead).
TEST(SharedFolderWindows, AWaitingOpensWatchEndsWithIt)
{
    const std::string name = uniqueName("watch");
    const auto waitInAThread = [&name] {
        std::thread([&name] {
            EXPECT_THROW(okr::ipc::SharedRecord<std::uint64_t>::openReadOnly(name, std::chrono::milliseconds(20)),
                         okr::ipc::SharedException);
        }).join();
    };
    waitInAThread(); // what a first one sets up for the whole process
    const std::size_t before = openHandles();
    for (const bool busy : {false, true}) {
        std::optional<FolderChurn> churn;
        if (busy) {
            churn.emplace(name);
        }
        for (int thread = 0; thread < 25; ++thread) {
            waitInAThread();
        }
    }
    EXPECT_LT(openHandles(), before + 10) << "handles left by 50 threads that each waited once";
}

} // namespace
