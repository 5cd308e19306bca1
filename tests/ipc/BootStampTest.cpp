#include "ipc/BootStamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
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
        const std::size_t length = sizeof header + body.size() + 4;
        header.length = static_cast<std::uint32_t>(length);
        header.reserved = 0x654c664c;
        header.timeGenerated = time;
        header.timeWritten = time;
        header.eventId = eventId;
        header.eventType = 4;
        const std::size_t start = bytes.size();
        bytes.resize(start + length);
        std::memcpy(bytes.data() + start, &header, sizeof header);
        std::copy(body.begin(), body.end(), bytes.begin() + static_cast<std::ptrdiff_t>(start + sizeof header));
        std::memcpy(bytes.data() + start + length - 4, &header.length, 4);
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

namespace {

using okr::ipc::EventLogReader;
using okr::ipc::readBootStamp;

// Serves prepared reads, one per call, as ReadEventLog would, and records
// the buffer sizes it was offered.
class FakeLogReader final : public EventLogReader {
public:
    std::vector<std::vector<unsigned char>> reads;
    std::vector<std::size_t> offered;
    std::size_t bogusNeed = 0; // report "too small" without needing more

    Outcome read(unsigned char* buffer, std::size_t size, std::size_t& got, std::size_t& needed) override
    {
        offered.push_back(size);
        if (bogusNeed != 0 && offered.size() <= 3) { // then ends, so a looping reader is seen, not hung
            needed = bogusNeed;
            return Outcome::bufferTooSmall;
        }
        if (next == reads.size()) {
            return Outcome::ended;
        }
        const std::vector<unsigned char>& bytes = reads[next];
        if (bytes.size() > size) {
            needed = bytes.size();
            return Outcome::bufferTooSmall;
        }
        std::memcpy(buffer, bytes.data(), bytes.size());
        got = bytes.size();
        ++next;
        return Outcome::read;
    }

private:
    std::size_t next = 0;
};

TEST(BootStampReading, NewestBootRecordAcrossSeveralReads)
{
    FakeLogReader log;
    log.reads.push_back(RecordBuffer().add("Other", 1, 900).bytes);
    log.reads.push_back(RecordBuffer().add("EventLog", 6005, 1796673306).add("EventLog", 6005, 5).bytes);
    EXPECT_EQ("1796673306", readBootStamp(log));
}

TEST(BootStampReading, GrowsTheBufferForARecordThatDoesNotFit)
{
    FakeLogReader log;
    RecordBuffer huge;
    huge.addRaw(6005, 4242, [] {
        std::vector<unsigned char> body = {'E', 'v', 'e', 'n', 't', 'L', 'o', 'g', 0};
        body.resize(100000, 'x');
        return body;
    }());
    log.reads.push_back(huge.bytes);

    EXPECT_EQ("4242", readBootStamp(log));
    ASSERT_EQ(2u, log.offered.size());
    EXPECT_LT(log.offered[0], huge.bytes.size());
    EXPECT_EQ(huge.bytes.size(), log.offered[1]);
}

TEST(BootStampReading, LogWithoutBootRecordGivesAnEmptyStamp)
{
    FakeLogReader log;
    log.reads.push_back(RecordBuffer().add("Other", 6005, 1).bytes);
    EXPECT_EQ("", readBootStamp(log));
}

TEST(BootStampReading, MalformedReadStopsReading)
{
    FakeLogReader log;
    RecordBuffer broken;
    broken.add("Other", 1, 1);
    broken.setLength(0, 7);
    log.reads.push_back(broken.bytes);
    log.reads.push_back(RecordBuffer().add("EventLog", 6005, 99).bytes);
    EXPECT_EQ("", readBootStamp(log));
    EXPECT_EQ(1u, log.offered.size());
}

TEST(BootStampReading, ReaderThatNeverFitsDoesNotLoopForever)
{
    // Less than offered, or exactly what was offered: no larger buffer helps.
    for (const std::size_t need : {std::size_t{16}, std::size_t{64} * 1024}) {
        FakeLogReader log;
        log.bogusNeed = need;
        EXPECT_EQ("", readBootStamp(log));
        EXPECT_EQ(1u, log.offered.size()) << need;
    }
}

} // namespace
