#ifndef OKR_TOOL_SHAREDNAMELIMIT_H
#define OKR_TOOL_SHAREDNAMELIMIT_H

#include <string>

namespace okr {
namespace tool {

// True when name is short enough to be a file of folder: at most 255 bytes
// for a POSIX file name; on Windows at most 255 UTF-16 units, whatever the
// length of the whole path.
bool fitsSharedFolder(const std::string& folder, const std::string& name);

} // namespace tool
} // namespace okr

#endif
