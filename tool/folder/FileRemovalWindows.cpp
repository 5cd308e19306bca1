#include "tool/folder/FileRemoval.h"

#include "tool/folder/ObjectFolderWindows.h"

namespace okr {
namespace tool {

namespace {

Removal failure() { return removalFailed(GetLastError()); }

bool deleteThrough(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

} // namespace

// Removal through one handle. The file is opened by its true name with
// DELETE access and no sharing at all, never through a reparse point: that
// fails while any process holds it (Boost keeps a handle for as long as a
// block is mapped), and while this handle is open nobody else can open it.
// On that handle: it must still be the regular file the inventory saw (volume
// and file index; no reparse point; its resolved path that entry of the
// folder); then the verdict (is its owner alive now?) is asked again, and the
// file is deleted through the handle (FileDispositionInfo), never by a name
// looked up again. A process that opens the name meanwhile fails to open it,
// and afterwards gets a fresh file. The cost: that process sees an error in
// that moment, as it would beside any exclusive opener.
Removal removeObject(const ObjectFolder& folder, const ObjectFile& seen, const Verdict& verdict)
{
    const Handle file(openEntry(folder.native(), seen.name, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, 0));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (isMissing(error)) {
            return {Removal::alreadyGone, std::string()};
        }
        return error == ERROR_SHARING_VIOLATION ? Removal{Removal::kept, "held open"} : failure();
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (typeOnHandle(folder.native(), seen.name, file.get(), info) != EntryType::file ||
        info.dwVolumeSerialNumber != seen.device || fileIndex(info) != seen.inode) {
        return {Removal::kept, "changed since it was listed"};
    }
    ObjectUse now; // this handle shuts every other out: nobody holds it
    const std::string reason = verdict(now);
    if (!reason.empty()) {
        return {Removal::kept, reason};
    }
    return deleteThrough(file.get()) ? Removal{Removal::removed, std::string()} : failure();
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
