// On Windows every block is a file in Boost.Interprocess's shared folder,
// which this library composes. These tests look at that folder directly.

#include "ipc/BootStamp.h"
#include "ipc/SharedType"
#include "support/ShmTestSupport.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>
#include <boost/interprocess/detail/win32_api.hpp>

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
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

// Whoever decides a block is unused locks its user byte exclusively
// (ipc/RecordLocks.h): refused while any SharedType maps the block.
TEST(SharedFolderWindows, EveryMappingHoldsTheUserLock)
{
    const auto othersCanLock = [](HANDLE file) {
        OVERLAPPED at = {};
        at.OffsetHigh = 0x7FFFFFFF;
        return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) &&
               UnlockFileEx(file, 0, 1, 0, &at);
    };
    for (const int mode : {1, 0}) {
        const std::string name = uniqueName("user-lock");
        BlockCleanup cleanup(name);
        writeBlock(name, std::vector<unsigned char>(16));
        const HANDLE file =
            CreateFileA((fs::path(sharedFolder()) / name).string().c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        std::optional<okr::ipc::SharedTypeBase> mapping(std::in_place, name, mode);
        mapping->create(16);
        EXPECT_FALSE(othersCanLock(file)) << "mode " << mode;
        mapping.reset();
        EXPECT_TRUE(othersCanLock(file)) << "mode " << mode;
        CloseHandle(file);
    }
}

} // namespace
