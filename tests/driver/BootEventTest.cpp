#include "BootEvent.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using okr::driver::EventLog;
using okr::driver::EventRecord;

// Records every call so the tests can check what reached the log.
class FakeEventLog final : public EventLog {
public:
    bool refuseRegistration = false;
    std::uint32_t registrationError = 0;
    bool refuseReport = false;

    int registered = 0;
    int deregistered = 0;
    std::string registeredSource;
    std::vector<EventRecord> reports;
    SourceHandle deregisteredHandle = nullptr;

    SourceHandle registerSource(const std::string& source) override
    {
        ++registered;
        registeredSource = source;
        return refuseRegistration ? nullptr : &token;
    }
    std::uint32_t lastError() const override { return registrationError; }
    bool report(SourceHandle source, const EventRecord& record) override
    {
        EXPECT_EQ(&token, source);
        reports.push_back(record);
        return !refuseReport;
    }
    void deregisterSource(SourceHandle source) override
    {
        ++deregistered;
        deregisteredHandle = source;
    }

    int token = 0;
};

TEST(BootEvent, WritesTheBootRecordAndSaysSo)
{
    FakeEventLog log;
    std::ostringstream out;

    EXPECT_TRUE(okr::driver::simulateBootEvent(log, out));

    EXPECT_EQ("Register event source EventLog\nReport event 6005\n", out.str());
    EXPECT_EQ("EventLog", log.registeredSource);
    ASSERT_EQ(1u, log.reports.size());
    const EventRecord& record = log.reports[0];
    EXPECT_EQ(4, record.type) << "information";
    EXPECT_EQ(0, record.category);
    EXPECT_EQ(6005u, record.eventId);
    EXPECT_EQ(std::vector<std::string>{"simple boost shared memory fix for 6005"}, record.strings);
    EXPECT_EQ(1, log.deregistered);
    EXPECT_EQ(&log.token, log.deregisteredHandle);
}

TEST(BootEvent, FailedRegistrationPrintsTheErrorCodeAndStops)
{
    FakeEventLog log;
    log.refuseRegistration = true;
    log.registrationError = 5;
    std::ostringstream out;

    EXPECT_FALSE(okr::driver::simulateBootEvent(log, out));

    EXPECT_EQ("Register event source error: 5\n", out.str());
    EXPECT_TRUE(log.reports.empty());
    EXPECT_EQ(0, log.deregistered);
}

TEST(BootEvent, ErrorCodeIsPrintedUnsignedDecimal)
{
    FakeEventLog log;
    log.refuseRegistration = true;
    log.registrationError = 0xC0000022u;
    std::ostringstream out;

    okr::driver::simulateBootEvent(log, out);

    EXPECT_EQ("Register event source error: 3221225506\n", out.str());
}

TEST(BootEvent, RefusedReportStillDeregistersAndPrintsNoReportLine)
{
    FakeEventLog log;
    log.refuseReport = true;
    std::ostringstream out;

    EXPECT_FALSE(okr::driver::simulateBootEvent(log, out));

    EXPECT_EQ("Register event source EventLog\n", out.str());
    EXPECT_EQ(1u, log.reports.size());
    EXPECT_EQ(1, log.deregistered);
    EXPECT_EQ(&log.token, log.deregisteredHandle);
}

} // namespace
