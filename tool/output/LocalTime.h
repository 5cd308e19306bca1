#ifndef OKR_TOOL_LOCALTIME_H
#define OKR_TOOL_LOCALTIME_H

#include <ctime>
#include <string>

namespace okr {
namespace tool {

// ISO 8601 in local time with the offset from UTC: 2024-05-01T14:03:59+02:00.
// The text stays valid until the next call.
const std::string& isoLocalTime(std::time_t time);

// The local clock at time; false when the system cannot tell. Each
// platform's file says how.
bool localClock(std::time_t time, std::tm& clock);

} // namespace tool
} // namespace okr

#endif
