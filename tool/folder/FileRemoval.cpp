#include "tool/folder/FileRemoval.h"

#include "tool/system/SystemReason.h"

namespace okr {
namespace tool {

Removal removalFailed(std::int64_t systemCode) { return {Removal::failed, systemReason(systemCode)}; }

} // namespace tool
} // namespace okr
