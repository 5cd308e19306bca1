#include "tool/system/SystemReason.h"

#include <cstring>

namespace okr {
namespace tool {

std::string systemReason(std::int64_t code) { return std::strerror(static_cast<int>(code)); }

} // namespace tool
} // namespace okr
