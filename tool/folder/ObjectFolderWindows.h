#ifndef OKR_TOOL_OBJECTFOLDERWINDOWS_H
#define OKR_TOOL_OBJECTFOLDERWINDOWS_H

#include "tool/folder/ObjectFolder.h"
#include "tool/system/SystemReason.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace okr {
namespace tool {

struct ObjectFolder::Native {
    std::string path;         // without a trailing separator
    std::wstring wide;        // the same as a \\?\ path, for the wide calls
    std::wstring finalPath;   // on its volume, as the system resolves it: every entry's handle is checked against it
    std::uint64_t device = 0; // the volume
    std::uint64_t index = 0;
};

// A handle that closes itself.
class Handle {
public:
    explicit Handle(HANDLE opened) : handle(opened) {}
    ~Handle()
    {
        if (valid()) {
            CloseHandle(handle);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

// Opens the entry name of folder by its true name in a \\?\ path, never
// through a reparse point (FILE_FLAG_OPEN_REPARSE_POINT is always added to
// flags); a name that no path names as one entry fails as ERROR_INVALID_NAME.
HANDLE openEntry(const ObjectFolder::Native& folder, const std::string& name, DWORD access, DWORD share, DWORD flags);

// What the handle opened on the entry name is, with its facts in info: a
// reparse point, or a handle whose resolved path is not that entry of the
// folder on its volume (Wine follows a Unix symbolic link whatever the
// flags), is a link.
EntryType typeOnHandle(const ObjectFolder::Native& folder, const std::string& name, HANDLE handle,
                       BY_HANDLE_FILE_INFORMATION& info);

std::uint64_t fileIndex(const BY_HANDLE_FILE_INFORMATION& info);

// True for the errors that say the entry does not exist.
bool isMissing(DWORD error);

} // namespace tool
} // namespace okr

#endif
