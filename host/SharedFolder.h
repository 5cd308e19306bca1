#ifndef OKR_HOST_SHAREDFOLDER_H
#define OKR_HOST_SHAREDFOLDER_H

#include <string>

namespace okr {
namespace host {

// The folder in which Boost.Interprocess keeps this platform's named blocks,
// in the system's narrow encoding.
std::string sharedFolder();

// Writes the names of the regular, non-hidden files in folder that match the
// wildcard pattern, one per line, in the platform's order. A folder that
// cannot be read gives no lines; this never fails the run.
void listSharedFiles(const std::string& folder, const std::string& pattern);

} // namespace host
} // namespace okr

#endif
