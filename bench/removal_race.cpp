// Whether an owner's end can remove a name it no longer owns: owners create
// a record under one name and end, over and over, while another process
// removes whatever has the name and makes a block of its own under it. An
// owner's end that removes that block has lost someone else's name. Run it
// with LD_PRELOAD=libokr-bench-delay-unlink.so to widen the moment between
// an owner seeing the name is its own and removing it.
//
//   okr-bench-removal-race [ROUNDS [OWNERS]]
// prints the rounds, the owners' ends and the names lost; status 1 when a
// name was lost, 2 when the run could not be made.

#include "ipc/SharedException"
#include "ipc/SharedRecord"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using okr::ipc::SharedException;
using okr::ipc::SharedRecord;

namespace {

// Who built the block: each process says so in the records it constructs.
std::uint64_t maker = 0;

struct RaceRecord {
    RaceRecord() : builtBy(maker) {}
    std::uint64_t builtBy;
};

struct Counters {
    std::atomic<bool> stop;
    std::atomic<unsigned long> ownerEnds;
    std::atomic<unsigned long> made;
    std::atomic<unsigned long> lost;
    std::atomic<unsigned long> failures;
};

void own(const std::string& name, Counters& counters)
{
    while (!counters.stop.load()) {
        try {
            const auto record = SharedRecord<RaceRecord>::create(name);
            ++counters.ownerEnds;
        } catch (const SharedException&) {
            std::this_thread::yield(); // the remover's block has the name
        }
    }
}

void removeAndRemake(const std::string& name, unsigned long rounds, Counters& counters)
{
    for (unsigned long round = 0; round < rounds; ++round) {
        try {
            SharedRecord<RaceRecord>::remove(name);
            const auto mine = SharedRecord<RaceRecord>::openOrCreate(name);
            if (mine->builtBy != maker) {
                continue; // an owner's, opened: nothing to watch
            }
            ++counters.made;
            // Owners end meanwhile; none may take this block's name.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            if (!mine.isCurrent()) {
                ++counters.lost;
            }
        } catch (const SharedException& e) {
            ++counters.failures;
            std::fprintf(stderr, "remover: %s\n", e.what());
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned long rounds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 5000;
    const long owners = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 2;
    const std::string name = "okr-bench-race-" + std::to_string(getpid());
    void* shared = mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        std::perror("mmap");
        return 2;
    }
    auto* counters = new (shared) Counters{};
    for (long i = 0; i < owners; ++i) {
        if (fork() == 0) {
            maker = static_cast<std::uint64_t>(getpid());
            own(name, *counters);
            _exit(0);
        }
    }
    maker = static_cast<std::uint64_t>(getpid());
    const auto started = std::chrono::steady_clock::now();
    removeAndRemake(name, rounds, *counters);
    counters->stop = true;
    while (wait(nullptr) > 0) {
    }
    SharedRecord<RaceRecord>::remove(name);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("removal race: %lu rounds in %.1f s, %lu owners' ends, %lu blocks the remover made, %lu names lost, "
                "%lu failures; target 0 lost: %s\n",
                rounds, seconds, counters->ownerEnds.load(), counters->made.load(), counters->lost.load(),
                counters->failures.load(), counters->lost.load() == 0 ? "HOLDS" : "MISSED");
    return counters->lost.load() != 0 ? 1 : counters->failures.load() != 0 ? 2 : 0;
}
