#ifndef OKR_TOOL_UNPUBLISHEDNAME_H
#define OKR_TOOL_UNPUBLISHEDNAME_H

#include <string>

namespace okr {
namespace tool {

// The hidden name under which SharedRecord<T> builds a new block before it
// publishes it under its true name (ipc/RecordBlockPosix.cpp,
// ipc/RecordBlockWindows.cpp): ".okr-new-" and 24 lower-case hex digits,
// exactly, on every platform. A creator killed in between leaves a full-size
// block under it. Any other name, however alike, is not the library's.
bool isUnpublishedName(const std::string& name);

} // namespace tool
} // namespace okr

#endif
