#ifndef OKR_DRIVER_EVENTLOG_H
#define OKR_DRIVER_EVENTLOG_H

#include <cstdint>
#include <string>
#include <vector>

namespace okr {
namespace driver {

// One record for the system log, in the terms of the Windows event log.
struct EventRecord {
    std::uint16_t type = 0; // EVENTLOG_*_TYPE
    std::uint16_t category = 0;
    std::uint32_t eventId = 0;
    std::vector<std::string> strings;
};

constexpr std::uint16_t eventTypeInformation = 4;

// The four operations the boot-time event needs from the system log. The
// build supplies the platform's log; tests supply their own.
class EventLog {
public:
    using SourceHandle = void*;

    virtual ~EventLog() = default;

    // Null when no source can be registered; lastError() then says why.
    virtual SourceHandle registerSource(const std::string& source) = 0;
    virtual std::uint32_t lastError() const = 0;
    virtual bool report(SourceHandle source, const EventRecord& record) = 0;
    virtual void deregisterSource(SourceHandle source) = 0;
};

// The platform's system log: the Windows event log, or the systemd journal.
EventLog& systemEventLog();

} // namespace driver
} // namespace okr

#endif
