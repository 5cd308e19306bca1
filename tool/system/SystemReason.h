#ifndef OKR_TOOL_SYSTEMREASON_H
#define OKR_TOOL_SYSTEMREASON_H

#include <cstdint>
#include <string>

namespace okr {
namespace tool {

// The system's own words for an error code (errno on POSIX, GetLastError()
// on Windows), in UTF-8, without a closing period or line break.
std::string systemReason(std::int64_t code);

} // namespace tool
} // namespace okr

#endif
