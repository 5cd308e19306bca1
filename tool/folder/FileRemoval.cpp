#include "tool/folder/FileRemoval.h"

#include "tool/system/SystemReason.h"

namespace okr {
namespace tool {

const char* const lockedReason = "in use (a user of the library holds its lock)";
const char* const removingReason = "another process is removing it";

Removal removalFailed(std::int64_t systemCode) { return {Removal::failed, systemReason(systemCode)}; }

} // namespace tool
} // namespace okr
