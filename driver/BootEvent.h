#ifndef OKR_DRIVER_BOOTEVENT_H
#define OKR_DRIVER_BOOTEVENT_H

#include "EventLog.h"

#include <ostream>

namespace okr {
namespace driver {

// Writes a boot-time record (source "EventLog", event 6005) to the log so
// that the shared-memory layer finds a fresh boot stamp, and reports each
// step as a console line. True when the record was written.
bool simulateBootEvent(EventLog& log, std::ostream& out);

// The same, on the system log and standard output.
bool simulateBootEvent();

} // namespace driver
} // namespace okr

#endif
