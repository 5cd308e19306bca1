// On Linux the system log is the systemd journal: the source becomes
// SYSLOG_IDENTIFIER and the record's items become journal fields.

#include "EventLog.h"

// The record carries exactly its own fields, not our source location.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

namespace okr {
namespace driver {

namespace {

const char* const journalSocket = "/run/systemd/journal/socket";

struct JournalSource {
    std::string identifier;
    int probe;
};

int priorityOf(std::uint16_t type)
{
    switch (type) {
    case 1: return LOG_ERR;     // error
    case 2: return LOG_WARNING; // warning
    default: return LOG_INFO;   // information and audits
    }
}

class JournalEventLog final : public EventLog {
public:
    SourceHandle registerSource(const std::string& source) override
    {
        // Registering proves the journal is there before anything is
        // reported, as registering an event source does on Windows: a
        // datagram socket connected to the journal's own socket, the one
        // libsystemd sends records to. Cheaper than a stream connection, and
        // journald keeps no state for it.
        const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (probe < 0) {
            error = static_cast<std::uint32_t>(errno);
            return nullptr;
        }
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, journalSocket, sizeof address.sun_path - 1);
        if (connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            error = static_cast<std::uint32_t>(errno);
            close(probe);
            return nullptr;
        }
        return new JournalSource{source, probe};
    }

    std::uint32_t lastError() const override { return error; }

    bool report(SourceHandle handle, const EventRecord& record) override
    {
        const auto* source = static_cast<const JournalSource*>(handle);
        std::string message;
        for (const std::string& text : record.strings) {
            message += message.empty() ? text : "\n" + text;
        }
        const std::string fields[] = {
            "SYSLOG_IDENTIFIER=" + source->identifier,
            "PRIORITY=" + std::to_string(priorityOf(record.type)),
            "MESSAGE=" + message,
            "EVENT_ID=" + std::to_string(record.eventId),
            "EVENT_CATEGORY=" + std::to_string(record.category),
        };
        iovec vector[std::size(fields)];
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            vector[i].iov_base = const_cast<char*>(fields[i].data());
            vector[i].iov_len = fields[i].size();
        }
        return sd_journal_sendv(vector, static_cast<int>(std::size(fields))) >= 0;
    }

    void deregisterSource(SourceHandle handle) override
    {
        auto* source = static_cast<JournalSource*>(handle);
        close(source->probe);
        delete source;
    }

private:
    std::uint32_t error = 0;
};

} // namespace

EventLog& systemEventLog()
{
    static JournalEventLog journal;
    return journal;
}

} // namespace driver
} // namespace okr
