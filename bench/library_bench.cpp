// The cost of one create-and-delete cycle of each shared record through
// okr::ipc::SharedType<T>, against the same cycle written directly in
// Boost.Interprocess and in POSIX calls, plus the record-name hash; and of a
// create-open-remove cycle through SharedRecord<T>, against the same in
// Boost.Interprocess alone and in raw POSIX calls. After the run it prints,
// per record type, the ratios against their targets; a cycle that fails is
// reported as an error and voids its ratio.

#include "common/LogInfo"
#include "common/RecordName"
#include "common/SharedSyncInfo"
#include "ipc/BlockReservation.h"
#include "ipc/SharedException"
#include "ipc/SharedRecord"
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
std::string blockName(const char* kind) { return "okr-bench-lib-" + std::to_string(getpid()) + "-" + kind; }

template <class T>
std::string blockNameOf();
template <>
std::string blockNameOf<okr::common::LogInfo>()
{
    return blockName("info");
}
template <>
std::string blockNameOf<SharedSyncInfo>()
{
    return blockName("sync");
}

template <class T>
void sharedTypeCycle(benchmark::State& state)
{
    const std::string name = blockNameOf<T>();
    for ([[maybe_unused]] auto _ : state) {
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

// sized: pass the record's size to mapped_region, which otherwise asks the
// block for it (one fstat per creation) although truncate has just set it.
template <class T, bool sized>
void boostCycle(benchmark::State& state)
{
    const std::string name = blockNameOf<T>();
    for ([[maybe_unused]] auto _ : state) {
        try {
            bip::permissions unrestricted;
            unrestricted.set_unrestricted();
            bip::shared_memory_object shm(bip::open_or_create, name.c_str(), bip::read_write, unrestricted);
            shm.truncate(static_cast<bip::offset_t>(sizeof(T)));
            okr::ipc::reserveBlockMemory(shm, sizeof(T));
            bip::mapped_region region(shm, bip::read_write, 0, sized ? sizeof(T) : 0U);
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
void posixCycle(benchmark::State& state)
{
    const std::string path = "/" + blockNameOf<T>();
    for ([[maybe_unused]] auto _ : state) {
        const int fd = shm_open(path.c_str(), O_CREAT | O_RDWR, 0666);
        if (fd < 0) {
            state.SkipWithError("shm_open failed");
            break;
        }
        // The memory is reserved as SharedType reserves it (no EINTR here:
        // the benchmark catches no signal).
        void* view = MAP_FAILED;
        if (fchmod(fd, 0666) == 0 && ftruncate(fd, static_cast<off_t>(sizeof(T))) == 0 &&
            posix_fallocate(fd, 0, static_cast<off_t>(sizeof(T))) == 0) {
            view = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
        if (view == MAP_FAILED) {
            close(fd);
            shm_unlink(path.c_str());
            state.SkipWithError("fchmod, ftruncate, posix_fallocate or mmap failed");
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

// create, a second opening, then both ended: the creator's end removes the name.
template <class T>
void sharedRecordCycle(benchmark::State& state)
{
    const std::string name = blockNameOf<T>();
    for ([[maybe_unused]] auto _ : state) {
        try {
            const auto writer = okr::ipc::SharedRecord<T>::create(name);
            const auto reader = okr::ipc::SharedRecord<T>::open(name);
            benchmark::DoNotOptimize(reader.get());
        } catch (const okr::ipc::SharedException& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
}

// The same in Boost.Interprocess alone: exclusive creation, reserved memory,
// the opener checks the size before it maps exactly the record. truncate is
// Boost's only way to size a block (mapped_region refuses an empty one),
// so it stays, although the reservation would size the block too; the
// mappings are given their size, so Boost asks the block for it only once,
// in the opener's get_size.
template <class T>
void boostRecordCycle(benchmark::State& state)
{
    const std::string name = blockNameOf<T>();
    for ([[maybe_unused]] auto _ : state) {
        try {
            bip::permissions unrestricted;
            unrestricted.set_unrestricted();
            bip::shared_memory_object created(bip::create_only, name.c_str(), bip::read_write, unrestricted);
            created.truncate(static_cast<bip::offset_t>(sizeof(T)));
            okr::ipc::reserveBlockMemory(created, sizeof(T));
            bip::mapped_region written(created, bip::read_write, 0, sizeof(T));
            benchmark::DoNotOptimize(::new (written.get_address()) T());
            bip::shared_memory_object opened(bip::open_only, name.c_str(), bip::read_write);
            bip::offset_t size = 0;
            if (!opened.get_size(size) || size != static_cast<bip::offset_t>(sizeof(T))) {
                state.SkipWithError("another size");
                break;
            }
            bip::mapped_region read(opened, bip::read_write, 0, sizeof(T));
            benchmark::DoNotOptimize(read.get_address());
        } catch (const bip::interprocess_exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        bip::shared_memory_object::remove(name.c_str());
    }
}

// The same in raw POSIX calls, the least the OS needs: posix_fallocate both
// sizes the new block and reserves its memory.
template <class T>
void posixRecordCycle(benchmark::State& state)
{
    const std::string path = "/" + blockNameOf<T>();
    for ([[maybe_unused]] auto _ : state) {
        const int fd = shm_open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, 0666);
        void* view = MAP_FAILED;
        if (fd >= 0 && fchmod(fd, 0666) == 0 && posix_fallocate(fd, 0, static_cast<off_t>(sizeof(T))) == 0) {
            view = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
        const int other = shm_open(path.c_str(), O_RDWR, 0);
        struct stat st = {};
        void* second = MAP_FAILED;
        if (other >= 0 && fstat(other, &st) == 0 && st.st_size == static_cast<off_t>(sizeof(T))) {
            second = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED, other, 0);
        }
        const bool ok = view != MAP_FAILED && second != MAP_FAILED;
        if (ok) {
            benchmark::DoNotOptimize(::new (view) T());
            benchmark::DoNotOptimize(second);
        }
        if (view != MAP_FAILED) {
            munmap(view, sizeof(T));
        }
        if (second != MAP_FAILED) {
            munmap(second, sizeof(T));
        }
        close(fd);
        close(other);
        shm_unlink(path.c_str());
        if (!ok) {
            state.SkipWithError("shm_open, fchmod, posix_fallocate, fstat or mmap failed");
            break;
        }
    }
}

void recordName(benchmark::State& state)
{
    const auto processId = static_cast<std::int32_t>(getpid());
    const std::string user = "S-1-22-1-" + std::to_string(geteuid());
    for ([[maybe_unused]] auto _ : state) {
        std::string name = okr::common::infoRecordName(processId, user, "okr-info-");
        benchmark::DoNotOptimize(name.data());
    }
}

using okr::common::LogInfo;
BENCHMARK_TEMPLATE(sharedTypeCycle, LogInfo)->Name("cycle/SharedType/LogInfo")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(boostCycle, LogInfo, false)->Name("cycle/Boost/LogInfo")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(boostCycle, LogInfo, true)->Name("cycle/BoostSized/LogInfo")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(posixCycle, LogInfo)->Name("cycle/POSIX/LogInfo")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(sharedTypeCycle, SharedSyncInfo)
    ->Name("cycle/SharedType/SharedSyncInfo")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(boostCycle, SharedSyncInfo, false)
    ->Name("cycle/Boost/SharedSyncInfo")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(boostCycle, SharedSyncInfo, true)
    ->Name("cycle/BoostSized/SharedSyncInfo")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(posixCycle, SharedSyncInfo)->Name("cycle/POSIX/SharedSyncInfo")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(sharedRecordCycle, LogInfo)->Name("record/SharedRecord/LogInfo")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(boostRecordCycle, LogInfo)->Name("record/Boost/LogInfo")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(posixRecordCycle, LogInfo)->Name("record/POSIX/LogInfo")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(sharedRecordCycle, SharedSyncInfo)
    ->Name("record/SharedRecord/SharedSyncInfo")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(boostRecordCycle, SharedSyncInfo)
    ->Name("record/Boost/SharedSyncInfo")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(posixRecordCycle, SharedSyncInfo)
    ->Name("record/POSIX/SharedSyncInfo")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(recordName)->Name("infoRecordName")->Unit(benchmark::kNanosecond);

struct Times {
    double real = -1.0;
    double cpu = -1.0;
};

// Passes every result on to the console and keeps each benchmark's real time
// per iteration: the median over repetitions when there are some.
class KeepingReporter : public benchmark::ConsoleReporter {
public:
    // A reporter passed in by the caller ignores --benchmark_color,
    // so colour follows whether standard output is a terminal.
    KeepingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred) {
                failed[name] = true;
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            } else if (run.run_type == Run::RT_Iteration) {
                single[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    bool hasFailed(const std::string& name) const { return failed.count(name) != 0; }

    // Real and CPU time per iteration; negative when not run or failed.
    Times times(const std::string& name) const
    {
        if (hasFailed(name)) {
            return {};
        }
        const auto median = medians.find(name);
        if (median != medians.end()) {
            return median->second;
        }
        const auto one = single.find(name);
        return one != single.end() ? one->second : Times{};
    }

private:
    std::map<std::string, Times> medians;
    std::map<std::string, Times> single;
    std::map<std::string, bool> failed;
};

} // namespace

int main(int argc, char** argv)
{
    const char* const types[] = {"LogInfo", "SharedSyncInfo"};

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
        const Times sharedTimes = reporter.times(sharedName);
        const Times posixTimes = reporter.times(posixName);
        const double shared = sharedTimes.real;
        const double boost = reporter.times(std::string("cycle/Boost/") + type).real;
        const double boostSized = reporter.times(std::string("cycle/BoostSized/") + type).real;
        const double posix = posixTimes.real;
        if (reporter.hasFailed(sharedName) || reporter.hasFailed(posixName)) {
            std::printf("%-15s SharedType/POSIX cycle: FAILED (see the errors above)\n", type);
            status = 1;
            continue;
        }
        if (shared <= 0.0 || posix <= 0.0) {
            std::printf("%-15s SharedType/POSIX cycle: not run\n", type);
            continue;
        }
        // Judged on wall time, which is what a caller waits; CPU time shown beside it.
        const double ratio = shared / posix;
        std::printf("%-15s SharedType/POSIX cycle, wall time: %.3f (%.2f us / %.2f us; CPU time: %.3f)", type, ratio,
                    shared, posix, sharedTimes.cpu / posixTimes.cpu);
        if (boost > 0.0) {
            std::printf("; plain Boost/POSIX: %.3f", boost / posix);
        }
        if (boostSized > 0.0) {
            std::printf("; Boost, size given/POSIX: %.3f", boostSized / posix);
        }
        std::printf("; target <= %.2f: %s\n", targetRatio, ratio <= targetRatio ? "HOLDS" : "MISSED");
    }
    for (const char* type : types) {
        const std::string recordName = std::string("record/SharedRecord/") + type;
        const std::string boostName = std::string("record/Boost/") + type;
        const Times recordTimes = reporter.times(recordName);
        const Times boostTimes = reporter.times(boostName);
        const double record = recordTimes.real;
        const double boost = boostTimes.real;
        const double posix = reporter.times(std::string("record/POSIX/") + type).real;
        if (reporter.hasFailed(recordName) || reporter.hasFailed(boostName)) {
            std::printf("%-15s SharedRecord/Boost create-open-remove cycle: FAILED (see the errors above)\n", type);
            status = 1;
            continue;
        }
        if (record <= 0.0 || boost <= 0.0) {
            std::printf("%-15s SharedRecord/Boost create-open-remove cycle: not run\n", type);
            continue;
        }
        // Wall and CPU time side by side: on a shared machine the two move
        // apart when other processes take the cores.
        const double ratio = record / boost;
        std::printf("%-15s SharedRecord/Boost create-open-remove cycle, wall time: %.3f (%.2f us / %.2f us); CPU "
                    "time: %.3f (%.2f us / %.2f us)",
                    type, ratio, record, boost, recordTimes.cpu / boostTimes.cpu, recordTimes.cpu, boostTimes.cpu);
        if (posix > 0.0) {
            std::printf("; SharedRecord/raw POSIX: %.3f (%.2f us)", record / posix, posix);
        }
        std::printf("; target <= %.2f: %s\n", targetRatio, ratio <= targetRatio ? "HOLDS" : "MISSED");
    }
    return status;
}
