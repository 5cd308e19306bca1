// On Windows every block is a file in Boost.Interprocess's shared folder,
// which this library composes. These tests look at that folder directly.

#include "ipc/BlockLock.h"
#include "ipc/BootStamp.h"
#include "ipc/RecordLocks.h"
#include "ipc/SharedType"
#include "support/ShmTestSupport.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>
#include <boost/interprocess/detail/win32_api.hpp>

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>

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

// SharedType's user lock: refused while someone decides the block is
// unused; the name checked against the very file.
TEST(SharedFolderWindows, UserLockOfSharedTypeBlocks)
{
    namespace bip = boost::interprocess;
    const std::string name = uniqueName("userlock");
    BlockCleanup cleanup(name);
    bip::shared_memory_object shm(bip::create_only, name.c_str(), bip::read_write);
    shm.truncate(16);
    const std::string path = sharedFolder() + "\\" + name;
    const HANDLE judge = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, judge);
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(okr::ipc::recordLocks::windowsLockBase + okr::ipc::recordLocks::userByte);
    where.OffsetHigh = static_cast<DWORD>(okr::ipc::recordLocks::windowsLockBase >> 32);
    ASSERT_TRUE(LockFileEx(judge, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where));
    EXPECT_FALSE(okr::ipc::tryTakeUserLock(shm)) << "taken beside an exclusive holder";
    UnlockFileEx(judge, 0, 1, 0, &where);
    EXPECT_TRUE(okr::ipc::tryTakeUserLock(shm));
    const bip::shared_memory_object other(bip::open_only, name.c_str(), bip::read_only);
    EXPECT_TRUE(okr::ipc::tryTakeUserLock(other)) << "users share it";
    EXPECT_FALSE(LockFileEx(judge, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where))
        << "a user holds it";
    CloseHandle(judge);
    EXPECT_TRUE(okr::ipc::nameStillMeans(name, shm));
    bip::shared_memory_object::remove(name.c_str());
    bip::shared_memory_object(bip::create_only, name.c_str(), bip::read_write).truncate(16);
    EXPECT_FALSE(okr::ipc::nameStillMeans(name, shm)) << "the name means another block now";
}

} // namespace
