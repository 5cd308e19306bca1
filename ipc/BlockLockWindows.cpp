#include "BlockLock.h"
#include "FileIndexWindows.h"
#include "RecordLocks.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>

#include <windows.h>

#include <cstdint>

namespace okr {
namespace ipc {

namespace {

HANDLE handleOf(const boost::interprocess::shared_memory_object& shm)
{
    return static_cast<HANDLE>(shm.get_mapping_handle().handle);
}

} // namespace

bool tryTakeUserLock(const boost::interprocess::shared_memory_object& shm)
{
    const std::uint64_t at = recordLocks::windowsLockBase + recordLocks::userByte;
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    return LockFileEx(handleOf(shm), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where) != 0;
}

// SharedType's names reach Boost's narrow calls, so the name is looked up
// the way Boost made the file: in the ANSI code page. Files of one folder
// are told apart by their index alone (Wine gives a volume serial of 0 for
// a handle opened under another name).
bool nameStillMeans(const std::string& name, const boost::interprocess::shared_memory_object& shm)
{
    std::string path;
    try {
        boost::interprocess::ipcdetail::shared_filepath(name.c_str(), path);
    } catch (const boost::interprocess::interprocess_exception&) {
        return false;
    }
    const HANDLE named =
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::uint64_t ours = 0;
    std::uint64_t now = 0;
    const bool same = fileIndex(handleOf(shm), ours) && fileIndex(named, now) && ours == now;
    CloseHandle(named);
    return same;
}

} // namespace ipc
} // namespace okr
