#include "BlockLock.h"
#include "RecordLocks.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>

#include <windows.h>

#include <cstdint>

namespace okr {
namespace ipc {

bool tryTakeUserLock(const boost::interprocess::shared_memory_object& shm)
{
    constexpr std::uint64_t offset = recordLocks::windowsLockBase + recordLocks::userByte;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return LockFileEx(shm.get_mapping_handle().handle, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

bool nameStillMeans(const std::string& name, const boost::interprocess::shared_memory_object& shm)
{
    std::string path;
    boost::interprocess::ipcdetail::shared_filepath(name.c_str(), path);
    const HANDLE named =
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Both are files of the one shared folder: the file index tells them
    // apart (Wine gives no volume serial for a handle opened under another
    // name).
    BY_HANDLE_FILE_INFORMATION ours = {};
    BY_HANDLE_FILE_INFORMATION theirs = {};
    const bool same = GetFileInformationByHandle(shm.get_mapping_handle().handle, &ours) &&
                      GetFileInformationByHandle(named, &theirs) && ours.nFileIndexHigh == theirs.nFileIndexHigh &&
                      ours.nFileIndexLow == theirs.nFileIndexLow;
    CloseHandle(named);
    return same;
}

} // namespace ipc
} // namespace okr
