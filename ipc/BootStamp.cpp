#include "BootStamp.h"

#include <cstring>
#include <vector>

namespace okr {
namespace ipc {

namespace {
constexpr std::uint32_t bootEventId = 6005;
const char bootSource[] = "EventLog"; // compared with its terminating zero
} // namespace

BootRecordScan findBootRecord(const unsigned char* bytes, std::size_t size, std::uint32_t& timeGenerated)
{
    std::size_t offset = 0;
    while (size - offset >= sizeof(EventLogRecordHeader)) {
        EventLogRecordHeader header;
        std::memcpy(&header, bytes + offset, sizeof header);
        const std::size_t length = header.length;
        if (length < sizeof header || length % 4 != 0 || length > size - offset) {
            return BootRecordScan::malformed;
        }
        const unsigned char* source = bytes + offset + sizeof header;
        const std::size_t sourceRoom = length - sizeof header;
        const bool sourceMatches =
            sourceRoom >= sizeof bootSource && std::memcmp(source, bootSource, sizeof bootSource) == 0;
        if (sourceMatches && (header.eventId & 0xFFFFu) == bootEventId) {
            timeGenerated = header.timeGenerated;
            return BootRecordScan::found;
        }
        offset += length;
    }
    return offset == size ? BootRecordScan::notFound : BootRecordScan::malformed;
}

std::string readBootStamp(EventLogReader& reader)
{
    std::vector<unsigned char> buffer(std::size_t{64} * 1024);
    for (;;) {
        std::size_t got = 0;
        std::size_t needed = 0;
        switch (reader.read(buffer.data(), buffer.size(), got, needed)) {
        case EventLogReader::Outcome::bufferTooSmall:
            if (needed <= buffer.size()) {
                return std::string(); // a reader that cannot be satisfied
            }
            buffer.resize(needed);
            continue;
        case EventLogReader::Outcome::ended: return std::string();
        case EventLogReader::Outcome::read: break;
        }
        std::uint32_t time = 0;
        switch (findBootRecord(buffer.data(), got < buffer.size() ? got : buffer.size(), time)) {
        case BootRecordScan::found: return std::to_string(time);
        case BootRecordScan::malformed: return std::string();
        case BootRecordScan::notFound: break;
        }
    }
}

std::string composeSharedFolder(const std::string& registryRoot, bool registryRootIsFolder, const std::string& tmp,
                                const std::string& bootStamp)
{
    const std::string& root = (!registryRoot.empty() && registryRootIsFolder) ? registryRoot : tmp;
    if (root.empty()) {
        return std::string();
    }
    return root + "/boost_interprocess" + "/" + bootStamp;
}

} // namespace ipc
} // namespace okr
