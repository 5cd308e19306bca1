#include "tool/folder/FileRemoval.h"

#include "ipc/RecordLocks.h"
#include "tool/folder/ObjectFolderWindows.h"

#include <cstdint>

namespace okr {
namespace tool {

namespace {

Removal failure() { return removalFailed(GetLastError()); }

bool deleteThrough(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// One byte's lock of RecordLocks.h, exclusive, without waiting.
bool lockByte(HANDLE handle, std::uint64_t byte)
{
    const std::uint64_t at = ipc::recordLocks::windowsLockBase + byte;
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where) != 0;
}

bool isLockRefused(DWORD error) { return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING; }

// Whether the entry name of folder still holds the file seen: a delete that
// did not take, or one pending behind another handle, leaves it.
bool stillThere(const ObjectFolder& folder, const ObjectFile& seen)
{
    const Handle left(openEntry(folder.native(), seen.name, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
    BY_HANDLE_FILE_INFORMATION info;
    if (!left.valid()) {
        return !isMissing(GetLastError()); // a delete pending refuses every open
    }
    return !GetFileInformationByHandle(left.get(), &info) ||
           (info.dwVolumeSerialNumber == seen.device && fileIndex(info) == seen.inode);
}

// Removal through one handle, opened by its true name, never through a
// reparse point, sharing everything, so that a user of the library who
// arrives meanwhile opens it, meets the lock and tries again rather than
// fail. On that handle: it must still be the regular file the inventory saw
// (volume and file index; no reparse point; its resolved path that entry of
// the folder); the users' lock must be free (exclusive, without waiting),
// and then nobody can begin to use it through the library; the name lock
// tells another remover. The file is deleted through the handle, never by a
// name looked up again, and its name must then be gone.
Removal removeObject(const ObjectFolder& folder, const ObjectFile& seen)
{
    const Handle file(openEntry(folder.native(), seen.name, GENERIC_READ | DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
    if (!file.valid()) {
        return isMissing(GetLastError()) ? Removal{Removal::alreadyGone, std::string()} : failure();
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (typeOnHandle(folder.native(), seen.name, file.get(), info) != EntryType::file ||
        info.dwVolumeSerialNumber != seen.device || fileIndex(info) != seen.inode) {
        return {Removal::kept, "changed since it was listed"};
    }
    if (!lockByte(file.get(), ipc::recordLocks::userByte)) {
        return isLockRefused(GetLastError()) ? Removal{Removal::kept, lockedReason} : failure();
    }
    if (!lockByte(file.get(), ipc::recordLocks::nameByte)) {
        return isLockRefused(GetLastError()) ? Removal{Removal::kept, removingReason} : failure();
    }
    if (!deleteThrough(file.get())) {
        return failure();
    }
    return {Removal::removed, std::string()};
}

} // namespace

// One object at a time. The second witness comes first, the handles the
// tool can see: its own handle would hide every other. A user of the
// library who begins meanwhile holds the users' lock, which keeps the
// object; a process that opens it without the library in that moment loses
// its name. Nothing is ever renamed.
void removeObjects(const ObjectFolder& folder, const std::vector<ObjectFile>& candidates, RemovalJudge& judge)
{
    const ObjectUsers users(folder);
    judge.survey(users);
    std::vector<std::string> reasons(candidates.size());
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        reasons[index] = judge.verdict(index, users.of(candidates[index]));
    }
    judge.judged(candidates.size());
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        const ObjectFile& seen = candidates[index];
        if (!reasons[index].empty()) {
            judge.settled(index, {Removal::kept, reasons[index]});
            continue;
        }
        Removal removal = removeObject(folder, seen);
        // Checked once its handle is closed: Wine says nothing of a delete
        // that fails then, and Windows keeps the name of a file whose delete
        // waits for another handle to close.
        if (removal.outcome == Removal::removed && stillThere(folder, seen)) {
            removal = {Removal::failed, "still there after it was deleted (another handle may hold it)"};
        }
        judge.settled(index, removal);
    }
}

Removal removeEmptyFolder(const ObjectFolder& parent, const std::string& name, const ObjectFolder& folder)
{
    const Handle opened(openEntry(parent.native(), name, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_FLAG_BACKUP_SEMANTICS));
    if (!opened.valid()) {
        return isMissing(GetLastError()) ? Removal{Removal::alreadyGone, std::string()} : failure();
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (typeOnHandle(parent.native(), name, opened.get(), info) != EntryType::folder ||
        info.dwVolumeSerialNumber != folder.native().device || fileIndex(info) != folder.native().index) {
        return {Removal::kept, "changed since it was listed"};
    }
    if (!deleteThrough(opened.get())) {
        return GetLastError() == ERROR_DIR_NOT_EMPTY ? Removal{Removal::kept, "not empty"} : failure();
    }
    return {Removal::removed, std::string()};
}

} // namespace tool
} // namespace okr
