// Runs the check's steps once in a fresh process, in the check's order, and
// prints how long each took, in microseconds, as KEY=VALUE on one line of
// standard error (standard output gets the check's lines).
// Timing inside the process separates our own code's share of a run from
// exec, library loading and exit, which only whole-run timing sees.
//
// Block names carry "okr-bench-steps" and the process id, so the probe can
// run beside the check and its tests.

#include "BootEvent.h"
#include "EventLog.h"
#include "host/SharedFolder.h"

#include "common/LogInfo"
#include "common/RecordName"
#include "common/SharedSyncInfo"
#include "ipc/SharedException"
#include "ipc/SharedType"

#include <wx/string.h>
#include <wx/utils.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

#include <unistd.h>

namespace {

constexpr int creatingSide = 1;

double nowMicros()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Times each call the boot event makes on the system log.
class TimedLog final : public okr::driver::EventLog {
public:
    explicit TimedLog(EventLog& log) : inner(log) {}

    SourceHandle registerSource(const std::string& source) override
    {
        const double start = nowMicros();
        SourceHandle handle = inner.registerSource(source);
        registerMicros = nowMicros() - start;
        return handle;
    }

    std::uint32_t lastError() const override { return inner.lastError(); }

    bool report(SourceHandle source, const okr::driver::EventRecord& record) override
    {
        const double start = nowMicros();
        const bool written = inner.report(source, record);
        reportMicros = nowMicros() - start;
        return written;
    }

    void deregisterSource(SourceHandle source) override
    {
        const double start = nowMicros();
        inner.deregisterSource(source);
        deregisterMicros = nowMicros() - start;
    }

    double registerMicros = 0;
    double reportMicros = 0;
    double deregisterMicros = 0;

private:
    EventLog& inner;
};

} // namespace

int main()
{
    const double begin = nowMicros();

    std::cout << "Simulate a boot time event" << std::endl;
    TimedLog log(okr::driver::systemEventLog());
    const bool written = okr::driver::simulateBootEvent(log, std::cout);
    const double afterJournal = nowMicros();
    if (!written) {
        std::fprintf(stderr, "okr-bench-steps: the boot event was not written (no journal?)\n");
        return 1;
    }

    const auto processId = static_cast<std::int32_t>(wxGetProcessId());
    const std::string user(wxGetUserId().ToUTF8().data());
    const std::string infoName = okr::common::infoRecordName(processId, user, "okr-bench-steps-info-");
    const std::string syncName = "okr-bench-steps-sync-" + std::to_string(getpid());
    const double afterNames = nowMicros();

    auto* sync = new okr::ipc::SharedType<SharedSyncInfo>(syncName, creatingSide);
    auto* info = new okr::ipc::SharedType<okr::common::LogInfo>(infoName, creatingSide);
    try {
        std::cout << "Creating info file " << info->name() << std::endl;
        info->create();
        std::cout << "Creating sync file " << sync->name() << std::endl;
        sync->create();
    } catch (const okr::ipc::SharedException& e) {
        std::fprintf(stderr, "okr-bench-steps: %s\n", e.what());
        delete info;
        delete sync;
        return 1;
    }
    const double afterCreate = nowMicros();

    const std::string folder = okr::host::sharedFolder();
    std::cout << "Shared memory folder is: " << folder << std::endl;
    std::cout << "List shared memory files" << std::endl;
    okr::host::listSharedFiles(folder, "okr-*");
    std::cout << "Press ENTER to finish test" << std::endl;
    const double afterListing = nowMicros();

    delete info;
    delete sync;
    const double end = nowMicros();

    std::fprintf(stderr,
                 "journal_register=%.1f journal_report=%.1f journal_deregister=%.1f "
                 "journal_step=%.1f names=%.1f create=%.1f listing=%.1f remove=%.1f main=%.1f\n",
                 log.registerMicros, log.reportMicros, log.deregisterMicros, afterJournal - begin,
                 afterNames - afterJournal, afterCreate - afterNames, afterListing - afterCreate, end - afterListing,
                 end - begin);
    return 0;
}
