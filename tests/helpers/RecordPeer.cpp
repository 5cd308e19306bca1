// A second process for SharedRecord's tests:
//   okr-test-record-peer [--publish=proc|hidden] VERB ...: publishes new
//     blocks the way named (Linux), not the best the system allows.
//   okr-test-record-peer [--hold] [--access=group|everyone] create|openOrCreate|open|takeOver|read NAME [VALUE]
//     opens the record as the verb says, counts itself in its visits and
//     writes VALUE (but read), prints the record's value in hex and exits (with
//     --hold, once a line or the end of its input came); "error: <what>" and
//     status 1 on failure. A new record is the user's alone unless --access says.
//   okr-test-record-peer wait NAME MS
//     read, waiting up to MS milliseconds for NAME to appear.
//   okr-test-record-peer stall NAME
//     creates NAME with a record whose constructor, between building the
//     block and publishing it, prints "building" and waits for a line (or
//     the end) of its input; then prints "published" and exits.
//   okr-test-record-peer race GATE NAME ROUNDS RACERS
//     for each round, meets the other racers at GATE, then openOrCreate's
//     NAME-<round>, checks that it maps a finished record and counts itself
//     in its visits; prints "ok", or what went wrong and status 3.

#include "helpers/PeerRecord.h"
#include "ipc/RecordBlockPlatform.h"
#include "ipc/SharedRecord"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using okr::ipc::SharedException;
using okr::ipc::SharedRecord;
using okr::testing::PeerGate;
using okr::testing::PeerRecord;

namespace {

bool finished(const PeerRecord& record)
{
    return record.magic == okr::testing::peerMagic && record.filler[0] == 0xA5 &&
           record.filler[sizeof record.filler - 1] == 0xA5;
}

void waitForInput()
{
    char line[16];
    (void)!std::fgets(line, sizeof line, stdin);
}

// Stopped where a creator that is killed leaves an unpublished block: built,
// full size, under its hidden name.
struct StalledRecord {
    StalledRecord() : value(0)
    {
        std::printf("building\n");
        std::fflush(stdout);
        waitForInput();
    }
    std::uint32_t value;
    std::uint8_t filler[64 * 1024 - 4];
};

int race(const std::string& gateName, const std::string& name, unsigned rounds, unsigned racers)
{
    auto gate = SharedRecord<PeerGate>::open(gateName);
    for (unsigned round = 0; round < rounds; ++round) {
        __atomic_add_fetch(&gate->arrived, 1u, __ATOMIC_SEQ_CST);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (__atomic_load_n(&gate->arrived, __ATOMIC_SEQ_CST) < racers * (round + 1)) {
            if (std::chrono::steady_clock::now() > deadline) {
                std::printf("round %u: the other racers never came\n", round);
                return 3;
            }
            std::this_thread::yield();
        }
        auto record = SharedRecord<PeerRecord>::openOrCreate(name + "-" + std::to_string(round));
        if (!finished(*record)) {
            std::printf("round %u: mapped a record whose constructor had not finished\n", round);
            return 3;
        }
        __atomic_add_fetch(&record->visits, 1u, __ATOMIC_SEQ_CST);
    }
    std::printf("ok\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strncmp(argv[1], "--publish=", 10) == 0) {
        okr::ipc::startPublishingAt(std::strcmp(argv[1] + 10, "proc") == 0 ? okr::ipc::PublishWay::throughProc
                                                                           : okr::ipc::PublishWay::hiddenName);
        --argc;
        ++argv;
    }
    bool hold = false;
    auto access = okr::ipc::RecordAccess::user;
    for (; argc > 1 && std::strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        hold = hold || std::strcmp(argv[1], "--hold") == 0;
        access = std::strcmp(argv[1], "--access=group") == 0      ? okr::ipc::RecordAccess::group
                 : std::strcmp(argv[1], "--access=everyone") == 0 ? okr::ipc::RecordAccess::everyone
                                                                  : access;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: okr-test-record-peer VERB NAME ...\n");
        return 2;
    }
    const std::string verb = argv[1];
    const std::string name = argv[2];
    const auto value = static_cast<std::uint32_t>(argc > 3 ? std::strtoul(argv[3], nullptr, 0) : 0);
    try {
        if (verb == "race" && argc == 6) {
            return race(name, argv[3], static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)),
                        static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10)));
        }
        if (verb == "stall") {
            const auto record = SharedRecord<StalledRecord>::create(name);
            std::printf("published\n");
            return 0;
        }
        if (verb == "read" || verb == "wait") {
            const auto record = verb == "read"
                                    ? SharedRecord<PeerRecord>::openReadOnly(name)
                                    : SharedRecord<PeerRecord>::openReadOnly(name, std::chrono::milliseconds(value));
            std::printf("%08x\n", static_cast<unsigned>(record->value));
            return 0;
        }
        auto record = verb == "create"         ? SharedRecord<PeerRecord>::create(name, access)
                      : verb == "openOrCreate" ? SharedRecord<PeerRecord>::openOrCreate(name, access)
                      : verb == "takeOver"     ? SharedRecord<PeerRecord>::takeOver(name)
                                               : SharedRecord<PeerRecord>::open(name);
        ++record->visits;
        record->value = value;
        std::printf("%08x\n", static_cast<unsigned>(record->value));
        std::fflush(stdout);
        if (hold) {
            waitForInput();
        }
        return 0;
    } catch (const SharedException& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
}
