#ifndef OKR_TOOL_LOCALTIME_H
#define OKR_TOOL_LOCALTIME_H

#include <ctime>
#include <string>

namespace okr {
namespace tool {

// ISO 8601 in local time with the offset from UTC: 2024-05-01T14:03:59+02:00.
std::string isoLocalTime(std::time_t time);

} // namespace tool
} // namespace okr

#endif
