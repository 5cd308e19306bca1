#include "tool/output/LocalTime.h"

namespace okr {
namespace tool {

bool localClock(std::time_t time, std::tm& clock) { return localtime_s(&clock, &time) == 0; }

} // namespace tool
} // namespace okr
