#ifndef OKR_TOOL_NAMERULES_H
#define OKR_TOOL_NAMERULES_H

#include <string>

namespace okr {
namespace tool {

// Names compared as the platform's file system compares them: byte for byte
// on POSIX; on Windows without regard to case, so "OKR-SYNC" is the file that
// Boost opens for "okr-sync".
bool sameName(const std::string& a, const std::string& b);
bool nameStartsWith(const std::string& name, const std::string& prefix);

// Whether a name that a folder listing gave can be opened as that one entry
// of the folder. Wine lists Unix names holding "\" or ":", which a Windows
// path would read as a path or a stream of another file.
bool isOpenableName(const std::string& name);

// Whether some entry of a folder could have this name: false for what no
// entry can be called (empty, ".", "..", a name holding a path separator or
// NUL), which would name a path, not an entry. Nothing else is refused: a
// name is looked up among the entries the folder lists, never opened as it
// was given.
bool isEntryName(const std::string& name);

} // namespace tool
} // namespace okr

#endif
