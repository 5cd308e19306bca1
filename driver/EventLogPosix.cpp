// On Linux the system log is the systemd journal: the source becomes
// SYSLOG_IDENTIFIER and the record's items become journal fields.

#include "EventLog.h"

// The record carries exactly its own fields, not our source location.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <sys/uio.h>
#include <syslog.h>
#include <unistd.h>

namespace okr {
namespace driver {

namespace {

struct JournalSource {
    std::string identifier;
    int stream;
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
        // A stream connection proves the journal is there before anything is
        // reported, as registering an event source does on Windows.
        const int stream = sd_journal_stream_fd(source.c_str(), LOG_INFO, 0);
        if (stream < 0) {
            error = static_cast<std::uint32_t>(-stream);
            return nullptr;
        }
        return new JournalSource{source, stream};
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
        iovec vector[sizeof fields / sizeof fields[0]];
        for (std::size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) {
            vector[i].iov_base = const_cast<char*>(fields[i].data());
            vector[i].iov_len = fields[i].size();
        }
        return sd_journal_sendv(vector, sizeof fields / sizeof fields[0]) >= 0;
    }

    void deregisterSource(SourceHandle handle) override
    {
        auto* source = static_cast<JournalSource*>(handle);
        close(source->stream);
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
