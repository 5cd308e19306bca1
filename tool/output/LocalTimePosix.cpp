#include "tool/output/LocalTime.h"

namespace okr {
namespace tool {

// localtime() looks at /etc/localtime again on every call (a stat each, a
// third of the system calls of a list of 100,000 objects); the zone is read
// once here and localtime_r keeps to it.
bool localClock(std::time_t time, std::tm& clock)
{
    static const bool zoneRead = (tzset(), true);
    return zoneRead && localtime_r(&time, &clock) != nullptr;
}

} // namespace tool
} // namespace okr
