#ifndef OKR_IPC_BOOTSTAMP_H
#define OKR_IPC_BOOTSTAMP_H

// How the shared folder is named on Windows, kept free of platform calls so
// that it is tested on every platform.

#include <cstddef>
#include <cstdint>
#include <string>

namespace okr {
namespace ipc {

// The fixed part of an event-log record as ReadEventLog returns it, in the
// platform's EVENTLOGRECORD layout; the source name follows it directly.
struct EventLogRecordHeader {
    std::uint32_t length;
    std::uint32_t reserved;
    std::uint32_t recordNumber;
    std::uint32_t timeGenerated;
    std::uint32_t timeWritten;
    std::uint32_t eventId;
    std::uint16_t eventType;
    std::uint16_t numStrings;
    std::uint16_t eventCategory;
    std::uint16_t reservedFlags;
    std::uint32_t closingRecordNumber;
    std::uint32_t stringOffset;
    std::uint32_t userSidLength;
    std::uint32_t userSidOffset;
    std::uint32_t dataLength;
    std::uint32_t dataOffset;
};
static_assert(sizeof(EventLogRecordHeader) == 56, "EVENTLOGRECORD's fixed part is 56 bytes");

enum class BootRecordScan {
    found,     // timeGenerated holds the boot record's time
    notFound,  // no boot record in these bytes; more may follow
    malformed, // the bytes cannot be trusted; stop reading
};

// Scans records in the order given (ReadEventLog backwards: newest first)
// for the first whose source is exactly "EventLog" and whose event id's low
// 16 bits are 6005. Never reads outside [bytes, bytes + size).
BootRecordScan findBootRecord(const unsigned char* bytes, std::size_t size, std::uint32_t& timeGenerated);

// The System event log, read newest record first, one buffer at a time.
class EventLogReader {
public:
    enum class Outcome {
        read,           // got bytes of whole records
        bufferTooSmall, // the next record needs `needed` bytes
        ended,          // no more records, or the log cannot be read
    };

    virtual ~EventLogReader() = default;
    virtual Outcome read(unsigned char* buffer, std::size_t size, std::size_t& got, std::size_t& needed) = 0;
};

// The boot stamp: the decimal TimeGenerated of the newest boot record, or an
// empty string when the log holds none, cannot be read, or reads as
// malformed. Grows its buffer when a record does not fit.
std::string readBootStamp(EventLogReader& reader);

// root + "/boost_interprocess" + "/" + stamp, where root is the registry's
// common application-data folder when it names a folder, else TMP. Empty
// when neither gives a root.
std::string composeSharedFolder(const std::string& registryRoot, bool registryRootIsFolder, const std::string& tmp,
                                const std::string& bootStamp);

} // namespace ipc
} // namespace okr

#endif
