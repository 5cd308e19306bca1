#ifndef OKR_HOST_SHAREDFOLDER_H
#define OKR_HOST_SHAREDFOLDER_H

#include <functional>
#include <string>

namespace okr {
namespace host {

// The folder in which Boost.Interprocess keeps this platform's named blocks,
// in the system's narrow encoding.
std::string sharedFolder();

// The same folder, found without creating it (on Windows Boost creates it,
// and its parent, when asked for it): what inspects must use, since a folder
// that is missing stays missing.
std::string sharedFolderWithoutCreating();

// Calls visit with the name of every entry in folder that matches the
// wildcard pattern and is neither a directory nor hidden, in the platform's
// order, as the platform's narrow bytes. False when the folder cannot be
// opened.
bool forEachSharedFile(const std::string& folder, const std::string& pattern,
                       const std::function<void(const std::string&)>& visit);

// Writes the names in folder that match the wildcard pattern, one per line,
// in the platform's order: every entry that is neither a directory nor
// hidden. On Windows those are files; on Linux FIFOs, sockets, devices and
// symbolic links that do not lead to a directory are listed too, since
// whatever sits there under such a name is what the operator should see.
// A name with a control character is printed escaped (listedName), so that
// no name forges a line or reaches the terminal as an escape sequence.
// A folder that cannot be read gives no lines; this never fails the run.
void listSharedFiles(const std::string& folder, const std::string& pattern);

} // namespace host
} // namespace okr

#endif
