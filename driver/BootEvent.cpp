#include "BootEvent.h"

#include <iostream>

namespace okr {
namespace driver {

namespace {
const char* const bootSource = "EventLog";
constexpr std::uint32_t bootEventId = 6005;
} // namespace

bool simulateBootEvent(EventLog& log, std::ostream& out)
{
    const EventLog::SourceHandle source = log.registerSource(bootSource);
    if (source == nullptr) {
        out << "Register event source error: " << log.lastError() << std::endl;
        return false;
    }
    out << "Register event source EventLog" << std::endl;

    EventRecord record;
    record.type = eventTypeInformation;
    record.category = 0;
    record.eventId = bootEventId;
    record.strings = {"simple boost shared memory fix for 6005"};

    const bool written = log.report(source, record);
    if (written) {
        out << "Report event 6005" << std::endl;
    }
    log.deregisterSource(source);
    return written;
}

bool simulateBootEvent() { return simulateBootEvent(systemEventLog(), std::cout); }

} // namespace driver
} // namespace okr
