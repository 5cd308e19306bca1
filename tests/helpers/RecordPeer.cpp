// A second process for SharedRecord's tests:
//   okr-test-record-peer [--publish=proc|hidden] VERB ...: publishes new
//     blocks the way named (Linux), not the best the system allows.
//   okr-test-record-peer create|openOrCreate|open|read NAME [VALUE]
//     opens the record as the verb says, writes VALUE (but read), prints the
//     record's value in hex and exits; "error: <what>" and status 1 on failure.
//   okr-test-record-peer stall NAME
//     creates NAME with a record whose constructor, between building the
//     block and publishing it, prints "building" and waits for a line (or
//     the end) of its input; then prints "published" and exits.
//   okr-test-record-peer race GATE NAME ROUNDS RACERS
//     for each round, meets the other racers at GATE, then openOrCreate's
//     NAME-<round>, checks that it maps a finished record and counts itself
//     in its visits; prints "ok", or what went wrong and status 3.
//   okr-test-record-peer hold NAME VALUE
//     creates NAME, writes VALUE, prints "held" and waits for a line (or the
//     end) of its input, owning the name all along.
//   okr-test-record-peer takeOver|remove NAME, wait NAME MS
//     takes the record over (printing its value) and ends as its owner;
//     removes NAME (printing "removed" or "none"); opens NAME, waiting up
//     to MS milliseconds for it (printing its value).
//   okr-test-record-peer churn NAME ROUNDS
//     openOrCreate's and removes NAME, ROUNDS times; prints "ok".
//   okr-test-record-peer removeRace GATE NAME ROUNDS RACERS
//     for each round, all racers map NAME-<round>, then all remove it at
//     once: exactly one must say it removed it; prints "ok", or status 3.
//     The first racer makes GATE.

#include "helpers/PeerRecord.h"
#include "ipc/RecordBlockPlatform.h"
#include "ipc/SharedRecord"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The arguments in UTF-8, as the library takes names: Windows hands main
// them in the ANSI code page, which has no "Ω".
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i) {
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &argument[0], length, nullptr, nullptr);
        argument.resize(argument.size() - 1);
        arguments.push_back(argument);
    }
    LocalFree(wide);
    return arguments;
#else
    return std::vector<std::string>(argv, argv + argc);
#endif
}

bool finished(const PeerRecord& record)
{
    return record.magic == okr::testing::peerMagic && record.filler[0] == 0xA5 &&
           record.filler[sizeof record.filler - 1] == 0xA5;
}

// Stopped where a creator that is killed leaves an unpublished block: built,
// full size, under its hidden name.
struct StalledRecord {
    StalledRecord() : value(0)
    {
        std::printf("building\n");
        std::fflush(stdout);
        char line[16];
        (void)!std::fgets(line, sizeof line, stdin);
    }
    std::uint32_t value;
    std::uint8_t filler[64 * 1024 - 4];
};

// Waits until every racer arrived for the meeting-th time.
bool meet(PeerGate& gate, unsigned meeting, unsigned racers)
{
    __atomic_add_fetch(&gate.arrived, 1u, __ATOMIC_SEQ_CST);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (__atomic_load_n(&gate.arrived, __ATOMIC_SEQ_CST) < racers * (meeting + 1)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::printf("meeting %u: the other racers never came\n", meeting);
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

int removeRace(const std::string& gateName, const std::string& name, unsigned rounds, unsigned racers)
{
    auto gate = SharedRecord<PeerGate>::openOrCreate(gateName);
    for (unsigned round = 0; round < rounds; ++round) {
        const std::string roundName = name + "-" + std::to_string(round);
        if (!meet(*gate, 3 * round, racers)) {
            return 3;
        }
        auto record = SharedRecord<PeerRecord>::openOrCreate(roundName);
        if (!meet(*gate, 3 * round + 1, racers)) {
            return 3;
        }
        if (SharedRecord<PeerRecord>::remove(roundName)) {
            __atomic_add_fetch(&record->value, 1u, __ATOMIC_SEQ_CST);
        }
        if (!meet(*gate, 3 * round + 2, racers)) {
            return 3;
        }
        if (record->value != 1) {
            std::printf("round %u: %u removers removed the one name\n", round, static_cast<unsigned>(record->value));
            return 3;
        }
    }
    std::printf("ok\n");
    return 0;
}

int race(const std::string& gateName, const std::string& name, unsigned rounds, unsigned racers)
{
    auto gate = SharedRecord<PeerGate>::open(gateName);
    for (unsigned round = 0; round < rounds; ++round) {
        if (!meet(*gate, round, racers)) {
            return 3;
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
    const std::vector<std::string> utf8 = utf8Arguments(argc, argv);
    std::vector<char*> arguments;
    for (const std::string& argument : utf8) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    argv = arguments.data();
    if (argc > 1 && std::strncmp(argv[1], "--publish=", 10) == 0) {
        okr::ipc::startPublishingAt(std::strcmp(argv[1] + 10, "proc") == 0 ? okr::ipc::PublishWay::throughProc
                                                                           : okr::ipc::PublishWay::hiddenName);
        --argc;
        ++argv;
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
        if (verb == "removeRace" && argc == 6) {
            return removeRace(name, argv[3], static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)),
                              static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10)));
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
        if (verb == "takeOver" || verb == "wait") {
            auto record = verb == "takeOver" ? SharedRecord<PeerRecord>::takeOver(name)
                                             : SharedRecord<PeerRecord>::open(name, std::chrono::milliseconds(value));
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
        if (verb == "stall") {
            const auto record = SharedRecord<StalledRecord>::create(name);
            std::printf("published\n");
            return 0;
        }
        if (verb == "read") {
            const auto record = SharedRecord<PeerRecord>::openReadOnly(name);
            std::printf("%08x\n", static_cast<unsigned>(record->value));
            return 0;
        }
        auto record = verb == "create"         ? SharedRecord<PeerRecord>::create(name)
                      : verb == "openOrCreate" ? SharedRecord<PeerRecord>::openOrCreate(name)
                                               : SharedRecord<PeerRecord>::open(name);
        record->value = value;
        std::printf("%08x\n", static_cast<unsigned>(record->value));
        return 0;
    } catch (const SharedException& e) {
        std::printf("error: %s\n", e.what());
        return 1;
    }
}
