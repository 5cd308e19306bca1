// A second process for SharedRecord's tests:
//   okr-test-record-peer [--publish=proc|hidden] VERB ...: publishes new
//     blocks the way named (Linux), not the best the system allows.
//   okr-test-record-peer [--hold] [--access=group|everyone] create|openOrCreate|open|takeOver|read NAME [VALUE]
//     opens the record as the verb says, counts itself in its visits and
//     writes VALUE (but read), prints the record's value in hex and exits (with
//     --hold, once a line or the end of its input came); "error: <what>" and
//     status 1 on failure. A new record is the user's alone unless --access says.
//   okr-test-record-peer wait NAME MS
//     read, waiting up to MS milliseconds for NAME to appear; SIGUSR1, where
//     there is one, is handled meanwhile (and does nothing).
//   okr-test-record-peer stall NAME
//     creates NAME with a record whose constructor, between building the
//     block and publishing it, prints "building" and waits for a line (or
//     the end) of its input; then prints "published" and exits.
//   okr-test-record-peer throw NAME
//     create, then openOrCreate, of a record whose constructor throws; prints
//     what each threw.
//   okr-test-record-peer race GATE NAME ROUNDS RACERS [remove]
//     for each round, meets the other racers at GATE (made by the first),
//     then openOrCreate's NAME-<round>, checks that it maps a finished record
//     and counts itself in its visits; with remove, all then remove it at
//     once, and exactly one must say it did. Prints "ok", or status 3.
//   okr-test-record-peer hold|takeOver|wait|remove|churn NAME [VALUE|MS|ROUNDS]
//     creates, writes VALUE and owns it until a line of input ("held"); takes
//     it over; waits up to MS ms for it; removes it ("removed" or "none");
//     openOrCreate's and removes it ROUNDS times ("ok").

#include "helpers/PeerRecord.h"
#include "ipc/RecordBlockPlatform.h"
#include "ipc/SharedRecord"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using okr::ipc::SharedException;
using okr::ipc::SharedRecord;
using okr::testing::PeerGate;
using okr::testing::PeerRecord;

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

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

// A record whose constructor fails: the exception must reach the caller and
// nothing of the block may be left.
struct ThrowingRecord {
    ThrowingRecord() { throw std::runtime_error("constructor failed"); }
    std::uint8_t filler[64 * 1024];
};

// Waits until every racer arrived for the meeting-th time; within the Wine
// runner's limit, so a racer that never started is named as such.
bool meet(PeerGate& gate, unsigned meeting, unsigned racers)
{
    __atomic_add_fetch(&gate.arrived, 1u, __ATOMIC_SEQ_CST);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (__atomic_load_n(&gate.arrived, __ATOMIC_SEQ_CST) < racers * (meeting + 1)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::printf("meeting %u: the other racers never came\n", meeting);
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

int race(const std::string& gateName, const std::string& name, unsigned rounds, unsigned racers, bool removing)
{
    auto gate = SharedRecord<PeerGate>::openOrCreate(gateName);
    const unsigned meetings = removing ? 3 : 1;
    for (unsigned round = 0; round < rounds; ++round) {
        const std::string roundName = name + "-" + std::to_string(round);
        if (!meet(*gate, meetings * round, racers)) {
            return 3;
        }
        auto record = SharedRecord<PeerRecord>::openOrCreate(roundName);
        if (!finished(*record)) {
            std::printf("round %u: mapped a record whose constructor had not finished\n", round);
            return 3;
        }
        __atomic_add_fetch(&record->visits, 1u, __ATOMIC_SEQ_CST);
        if (!removing) {
            continue;
        }
        if (!meet(*gate, meetings * round + 1, racers)) {
            return 3;
        }
        if (SharedRecord<PeerRecord>::remove(roundName)) {
            __atomic_add_fetch(&record->value, 1u, __ATOMIC_SEQ_CST);
        }
        if (!meet(*gate, meetings * round + 2, racers) || record->value != 1) {
            std::printf("round %u: %u removers removed the one name\n", round, static_cast<unsigned>(record->value));
            return 3;
        }
    }
    std::printf("ok\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Windows hands main its arguments in the ANSI code page, which has no
    // "Ω"; names are UTF-8.
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> utf8(wide == nullptr ? 0 : static_cast<std::size_t>(argc));
    std::vector<char*> arguments;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        char text[4096] = {};
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text, sizeof text, nullptr, nullptr);
        utf8[i] = text;
        arguments.push_back(&utf8[i][0]);
    }
    argv = arguments.data();
#endif
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
        if (verb == "race" && (argc == 6 || argc == 7)) {
            return race(name, argv[3], static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)),
                        static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10)), argc == 7);
        }
        if (verb == "hold") {
            auto record = SharedRecord<PeerRecord>::create(name);
            record->value = value;
            std::printf("held\n");
            std::fflush(stdout);
            char line[16];
            (void)!std::fgets(line, sizeof line, stdin);
            return 0;
        }
        if (verb == "inherit") { // takeOver, showing what the dead owner left
            auto record = SharedRecord<PeerRecord>::takeOver(name);
            std::printf("%08x\n", static_cast<unsigned>(record->value));
            return 0;
        }
        if (verb == "remove") {
            std::printf(SharedRecord<PeerRecord>::remove(name) ? "removed\n" : "none\n");
            return 0;
        }
        if (verb == "churn") {
            for (std::uint32_t round = 0; round < value; ++round) {
                SharedRecord<PeerRecord>::openOrCreate(name);
                SharedRecord<PeerRecord>::remove(name);
            }
            std::printf("ok\n");
            return 0;
        }
        if (verb == "throw") {
            for (const bool create : {true, false}) {
                try {
                    create ? SharedRecord<ThrowingRecord>::create(name)
                           : SharedRecord<ThrowingRecord>::openOrCreate(name);
                } catch (const std::runtime_error& e) {
                    std::printf("%s\n", e.what());
                }
            }
            return 0;
        }
        if (verb == "stall") {
            const auto record = SharedRecord<StalledRecord>::create(name);
            std::printf("published\n");
            return 0;
        }
        if (verb == "read" || verb == "wait") {
#ifdef SIGUSR1
            std::signal(SIGUSR1, [](int) {}); // as a product's process may: the wait must outlast it
#endif
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
