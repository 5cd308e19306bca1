// The cost of one create-and-delete cycle of each shared record through
// okr::ipc::SharedType<T>, against the same cycle written directly in
// Boost.Interprocess and in POSIX calls, plus the record-name hash. After the
// run it prints, per record type, SharedType-cycle / POSIX-cycle against the
// target; a cycle that fails is reported as an error and voids its ratio.

#include "common/LogInfo"
#include "common/RecordName"
#include "common/SharedSyncInfo"
#include "ipc/SharedException"
#include "ipc/SharedType"

#include <benchmark/benchmark.h>

#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/permissions.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace bip = boost::interprocess;

namespace {

constexpr int creatingSide = 1;
constexpr double targetRatio = 1.2;

// Names carry the process id so that the benchmark can run beside the tests
// and the check, which use their own names.
std::string blockName(const char* kind)
{
    return "okr-bench-lib-" + std::to_string(getpid()) + "-" + kind;
}

template <class T>
void sharedTypeCycle(benchmark::State& state, const std::string& name)
{
    for (auto _ : state) {
        auto* block = new okr::ipc::SharedType<T>(name, creatingSide);
        try {
            block->create();
        } catch (const okr::ipc::SharedException& e) {
            delete block;
            state.SkipWithError(e.what());
            break;
        }
        benchmark::DoNotOptimize(block->record());
        delete block; // unmaps, closes and removes the name
    }
}

template <class T>
void boostCycle(benchmark::State& state, const std::string& name)
{
    for (auto _ : state) {
        try {
            bip::permissions unrestricted;
            unrestricted.set_unrestricted();
            bip::shared_memory_object shm(bip::open_or_create, name.c_str(), bip::read_write,
                                          unrestricted);
            shm.truncate(static_cast<bip::offset_t>(sizeof(T)));
            bip::mapped_region region(shm, bip::read_write);
            T* record = ::new (region.get_address()) T;
            benchmark::DoNotOptimize(record);
        } catch (const bip::interprocess_exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        // Removed only after the view and the handle are gone, as SharedType does.
        bip::shared_memory_object::remove(name.c_str());
    }
}

template <class T>
void posixCycle(benchmark::State& state, const std::string& name)
{
    const std::string path = "/" + name;
    for (auto _ : state) {
        const int fd = shm_open(path.c_str(), O_CREAT | O_RDWR, 0666);
        if (fd < 0) {
            state.SkipWithError("shm_open failed");
            break;
        }
        void* view = MAP_FAILED;
        if (fchmod(fd, 0666) == 0 && ftruncate(fd, static_cast<off_t>(sizeof(T))) == 0) {
            view = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
        if (view == MAP_FAILED) {
            close(fd);
            shm_unlink(path.c_str());
            state.SkipWithError("fchmod, ftruncate or mmap failed");
            break;
        }
        // Default-initialisation, as SharedType does: zeroes SharedSyncInfo,
        // writes nothing of LogInfo.
        T* record = ::new (view) T;
        benchmark::DoNotOptimize(record);
        munmap(view, sizeof(T));
        close(fd);
        shm_unlink(path.c_str());
    }
}

void recordName(benchmark::State& state)
{
    const auto processId = static_cast<std::int32_t>(getpid());
    const std::string user = "S-1-22-1-" + std::to_string(geteuid());
    for (auto _ : state) {
        std::string name = okr::common::infoRecordName(processId, user, "okr-info-");
        benchmark::DoNotOptimize(name.data());
    }
}

// Passes every result on to the console and keeps each benchmark's real time
// per iteration: the median over repetitions when there are some.
class KeepingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred) {
                failed[name] = true;
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians[name] = run.GetAdjustedRealTime();
            } else if (run.run_type == Run::RT_Iteration) {
                single[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    bool hasFailed(const std::string& name) const { return failed.count(name) != 0; }

    // Real time per iteration, or a negative value when not run or failed.
    double realTime(const std::string& name) const
    {
        if (hasFailed(name)) {
            return -1.0;
        }
        const auto median = medians.find(name);
        if (median != medians.end()) {
            return median->second;
        }
        const auto one = single.find(name);
        return one != single.end() ? one->second : -1.0;
    }

private:
    std::map<std::string, double> medians;
    std::map<std::string, double> single;
    std::map<std::string, bool> failed;
};

} // namespace

int main(int argc, char** argv)
{
    const std::string infoName = blockName("info");
    const std::string syncName = blockName("sync");
    const char* const types[] = {"LogInfo", "SharedSyncInfo"};

    using okr::common::LogInfo;
    const auto cycle = [](const char* name, auto body) {
        benchmark::RegisterBenchmark(name, body)->Unit(benchmark::kMicrosecond);
    };
    cycle("cycle/SharedType/LogInfo", [&](benchmark::State& s) { sharedTypeCycle<LogInfo>(s, infoName); });
    cycle("cycle/Boost/LogInfo", [&](benchmark::State& s) { boostCycle<LogInfo>(s, infoName); });
    cycle("cycle/POSIX/LogInfo", [&](benchmark::State& s) { posixCycle<LogInfo>(s, infoName); });
    cycle("cycle/SharedType/SharedSyncInfo",
          [&](benchmark::State& s) { sharedTypeCycle<SharedSyncInfo>(s, syncName); });
    cycle("cycle/Boost/SharedSyncInfo", [&](benchmark::State& s) { boostCycle<SharedSyncInfo>(s, syncName); });
    cycle("cycle/POSIX/SharedSyncInfo", [&](benchmark::State& s) { posixCycle<SharedSyncInfo>(s, syncName); });
    benchmark::RegisterBenchmark("infoRecordName", recordName)->Unit(benchmark::kNanosecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    KeepingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // A failed cycle makes the exit status 1; one left out by a filter is
    // only noted.
    int status = 0;
    std::printf("\n");
    for (const char* type : types) {
        const std::string sharedName = std::string("cycle/SharedType/") + type;
        const std::string posixName = std::string("cycle/POSIX/") + type;
        const double shared = reporter.realTime(sharedName);
        const double boost = reporter.realTime(std::string("cycle/Boost/") + type);
        const double posix = reporter.realTime(posixName);
        if (reporter.hasFailed(sharedName) || reporter.hasFailed(posixName)) {
            std::printf("%-15s SharedType/POSIX cycle: FAILED (see the errors above)\n", type);
            status = 1;
            continue;
        }
        if (shared <= 0.0 || posix <= 0.0) {
            std::printf("%-15s SharedType/POSIX cycle: not run\n", type);
            continue;
        }
        const double ratio = shared / posix;
        std::printf("%-15s SharedType/POSIX cycle: %.3f (SharedType %.2f us, POSIX %.2f us", type, ratio,
                    shared, posix);
        if (boost > 0.0) {
            std::printf(", Boost %.2f us, Boost/POSIX %.3f", boost, boost / posix);
        }
        std::printf("); target <= %.2f: %s\n", targetRatio, ratio <= targetRatio ? "HOLDS" : "MISSED");
    }
    return status;
}
