#include "ipc/BootStamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using okr::ipc::BootRecordScan;
using okr::ipc::composeSharedFolder;
using okr::ipc::EventLogRecordHeader;
using okr::ipc::findBootRecord;

// Builds event-log records byte for byte, as ReadEventLog delivers them.
class RecordBuffer {
public:
    RecordBuffer& add(const std::string& source, std::uint32_t eventId, std::uint32_t time)
    {
        std::vector<unsigned char> tail(source.begin(), source.end());
        tail.push_back(0);
        for (char c : std::string("HOST")) {
            tail.push_back(static_cast<unsigned char>(c));
        }
        tail.push_back(0);
        while ((sizeof(EventLogRecordHeader) + tail.size() + 4) % 4 != 0) {
            tail.push_back(0);
        }
        return addRaw(eventId, time, tail);
    }

    // A record whose body is exactly these bytes (plus the trailing length).
    RecordBuffer& addRaw(std::uint32_t eventId, std::uint32_t time, const std::vector<unsigned char>& body)
    {
        EventLogRecordHeader header = {};
        header.length = static_cast<std::uint32_t>(sizeof header + body.size() + 4);
        header.reserved = 0x654c664c;
        header.timeGenerated = time;
        header.timeWritten = time;
        header.eventId = eventId;
        header.eventType = 4;
        const std::size_t start = bytes.size();
        bytes.resize(start + header.length);
        std::memcpy(&bytes[start], &header, sizeof header);
        std::memcpy(&bytes[start + sizeof header], body.data(), body.size());
        std::memcpy(&bytes[start + header.length - 4], &header.length, 4);
        return *this;
    }

    void setLength(std::size_t recordStart, std::uint32_t length)
    {
        std::memcpy(&bytes[recordStart], &length, sizeof length);
    }

    BootRecordScan scan(std::uint32_t& time) const { return findBootRecord(bytes.data(), bytes.size(), time); }

    std::vector<unsigned char> bytes;
};

TEST(BootRecordScan, NewestMatchingRecordWins)
{
    RecordBuffer log;
    log.add("Service Control Manager", 7036, 300).add("EventLog", 6005, 200).add("EventLog", 6005, 100);
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::found, log.scan(time));
    EXPECT_EQ(200u, time);
}

TEST(BootRecordScan, SourceNameIsComparedExactly)
{
    RecordBuffer log;
    log.add("eventlog", 6005, 400).add("EventLogX", 6005, 300).add("Event", 6005, 200).add("EventLog", 6006, 150);
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::notFound, log.scan(time));
    EXPECT_EQ(0u, time);
}

TEST(BootRecordScan, HighBitsOfTheEventIdAreIgnored)
{
    RecordBuffer log;
    log.add("EventLog", 0x80001775u, 500);
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::found, log.scan(time));
    EXPECT_EQ(500u, time);
}

TEST(BootRecordScan, EmptyBufferHoldsNothing)
{
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::notFound, findBootRecord(nullptr, 0, time));
}

TEST(BootRecordScanMalformed, LengthShorterThanTheHeaderEndsTheScan)
{
    RecordBuffer log;
    log.add("Other", 1, 9).add("EventLog", 6005, 8);
    log.setLength(0, 52);
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::malformed, log.scan(time));
}

TEST(BootRecordScanMalformed, ZeroLengthDoesNotLoopForever)
{
    RecordBuffer log;
    log.add("Other", 1, 9);
    log.setLength(0, 0);
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::malformed, log.scan(time));
}

TEST(BootRecordScanMalformed, LengthNotAMultipleOfFourEndsTheScan)
{
    RecordBuffer log;
    log.add("Other", 1, 9).add("EventLog", 6005, 8);
    const std::uint32_t first = static_cast<std::uint32_t>(log.bytes.size() / 2);
    log.setLength(0, first + 1);
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::malformed, log.scan(time));
}

TEST(BootRecordScanMalformed, RecordRunningPastTheBufferEndsTheScan)
{
    RecordBuffer log;
    log.add("EventLog", 6005, 8);
    log.setLength(0, static_cast<std::uint32_t>(log.bytes.size() + 4));
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::malformed, log.scan(time));
}

TEST(BootRecordScanMalformed, TruncatedTailAfterGoodRecordsIsReported)
{
    RecordBuffer log;
    log.add("Other", 1, 9);
    log.bytes.resize(log.bytes.size() + 20, 0xAB);
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::malformed, log.scan(time));
}

TEST(BootRecordScanMalformed, SourceNameWithoutTerminatorDoesNotMatch)
{
    // "EventLog" filling the record to its last byte, with no zero after it.
    RecordBuffer log;
    const std::string name = "EventLog";
    log.addRaw(6005, 77, std::vector<unsigned char>(name.begin(), name.end()));
    log.setLength(0, static_cast<std::uint32_t>(sizeof(EventLogRecordHeader) + 8));
    log.bytes.resize(sizeof(EventLogRecordHeader) + 8);
    std::uint32_t time = 0;
    EXPECT_EQ(BootRecordScan::notFound, log.scan(time));
    EXPECT_EQ(0u, time);
}

TEST(SharedFolderComposition, RegistryRootWithStamp)
{
    EXPECT_EQ("C:\\ProgramData/boost_interprocess/1796673306",
              composeSharedFolder("C:\\ProgramData", true, "C:\\Temp", "1796673306"));
}

TEST(SharedFolderComposition, EmptyStampLeavesTheTrailingSeparator)
{
    EXPECT_EQ("C:\\ProgramData/boost_interprocess/", composeSharedFolder("C:\\ProgramData", true, "C:\\Temp", ""));
}

TEST(SharedFolderComposition, MissingRegistryFolderFallsBackOnTmp)
{
    EXPECT_EQ("C:\\Temp/boost_interprocess/5", composeSharedFolder("C:\\Gone", false, "C:\\Temp", "5"));
    EXPECT_EQ("C:\\Temp/boost_interprocess/5", composeSharedFolder("", true, "C:\\Temp", "5"));
}

TEST(SharedFolderComposition, NoRootAtAllGivesNothing) { EXPECT_EQ("", composeSharedFolder("", false, "", "5")); }

} // namespace
