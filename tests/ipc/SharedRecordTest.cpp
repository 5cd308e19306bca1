// SharedRecord between real processes: okr-test-record-peer is the other
// process. Blocks are looked at through plain Boost calls (ShmTestSupport).

#include "ipc/SharedRecord"
#include "helpers/PeerRecord.h"
#include "support/ProcessRunner.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using okr::ipc::SharedException;
using okr::ipc::SharedRecord;
using namespace okr::testing;
namespace recordError = okr::ipc::recordError;

static_assert(std::is_same<decltype(SharedRecord<PeerRecord>::openReadOnly("x").get()), const PeerRecord*>::value,
              "the read-only kind hands out const T*");
static_assert(!std::is_copy_constructible<SharedRecord<PeerRecord>>::value &&
                  std::is_nothrow_move_constructible<SharedRecord<PeerRecord>>::value,
              "move-only");

std::string peer(const std::string& verb, const std::string& name, const std::string& value = "")
{
    return std::string(OKR_RECORD_PEER) + " " + verb + " " + name + (value.empty() ? "" : " " + value);
}

// Which process's exit removes the name: only the creator's.
struct ExitCase {
    const char* verb;
    bool existsBefore;
    bool nameStays;
};

class RecordPeerExit : public ::testing::TestWithParam<ExitCase> {};

TEST_P(RecordPeerExit, OnlyTheCreatorsExitRemovesTheName)
{
    const ExitCase& c = GetParam();
    const std::string name = uniqueName(c.verb);
    BlockCleanup cleanup(name);
    if (c.existsBefore) {
        SharedRecord<PeerRecord>::openOrCreate(name)->value = 0x1234;
    }

    const ProcessResult result = runCommand(peer(c.verb, name, "0x1234"));

    EXPECT_EQ(0, result.status) << result.output;
    EXPECT_EQ("00001234\n", result.output);
    EXPECT_EQ(c.nameStays, blockExists(name));
    if (c.nameStays) {
        EXPECT_EQ(0x1234u, SharedRecord<PeerRecord>::openReadOnly(name)->value) << "a later reader still reaches it";
    }
}

INSTANTIATE_TEST_SUITE_P(Verbs, RecordPeerExit,
                         ::testing::Values(ExitCase{"create", false, false}, ExitCase{"openOrCreate", false, true},
                                           ExitCase{"openOrCreate", true, true}, ExitCase{"open", true, true},
                                           ExitCase{"read", true, true}),
                         [](const ::testing::TestParamInfo<ExitCase>& param) {
                             return std::string(param.param.verb) + (param.param.existsBefore ? "Existing" : "New");
                         });

// A refusal names its cause and changes nothing: the block that was there
// keeps its size and bytes, a missing one stays missing.
struct RefusalCase {
    const char* verb;
    std::size_t sizeBefore; // 0: no block
    const char* message;
};

class RecordPeerRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RecordPeerRefusal, FailsWithItsOwnMessageAndChangesNothing)
{
    const RefusalCase& c = GetParam();
    const std::string name = uniqueName(c.verb);
    BlockCleanup cleanup(name);
    std::vector<unsigned char> before(c.sizeBefore);
    for (std::size_t i = 0; i < before.size(); ++i) {
        before[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    if (c.sizeBefore != 0) {
        writeBlock(name, before);
    }

    const ProcessResult result = runCommand(peer(c.verb, name, "0x99"));

    EXPECT_EQ(1, result.status);
    EXPECT_EQ(std::string("error: ") + c.message + "\n", result.output);
    if (c.sizeBefore == 0) {
        EXPECT_FALSE(blockExists(name));
    } else {
        EXPECT_EQ(before, readBlock(name));
    }
}

INSTANTIATE_TEST_SUITE_P(Causes, RecordPeerRefusal,
                         ::testing::Values(RefusalCase{"create", sizeof(PeerRecord), recordError::nameExists},
                                           RefusalCase{"create", 100, recordError::nameExists},
                                           RefusalCase{"open", 0, recordError::nameMissing},
                                           RefusalCase{"read", 0, recordError::nameMissing},
                                           RefusalCase{"openOrCreate", 100, recordError::otherSize},
                                           RefusalCase{"openOrCreate", sizeof(PeerRecord) + 1, recordError::otherSize},
                                           RefusalCase{"open", sizeof(PeerRecord) - 1, recordError::otherSize},
                                           RefusalCase{"read", 100, recordError::otherSize}),
                         [](const ::testing::TestParamInfo<RefusalCase>& param) {
                             return std::string(param.param.verb) + "Size" + std::to_string(param.param.sizeBefore);
                         });

TEST(SharedRecord, ProcessesRacingOpenOrCreateConstructTheRecordOnce)
{
    constexpr unsigned racers = 4;
    constexpr unsigned rounds = 100;
    const std::string gateName = uniqueName("gate");
    const std::string name = uniqueName("race");
    auto gate = SharedRecord<PeerGate>::create(gateName);
    // Racers that publish new blocks in each way there is (one way only on Windows).
    const char* const ways[] = {"", " --publish=proc", " --publish=hidden"};
    std::vector<std::string> commands;
    for (unsigned racer = 0; racer < racers; ++racer) {
        std::string command = OKR_RECORD_PEER;
        command += ways[racer % 3];
        for (const std::string& argument :
             {std::string("race"), gateName, name, std::to_string(rounds), std::to_string(racers)}) {
            command += " ";
            command += argument;
        }
        commands.push_back(command);
    }

    const std::vector<ProcessResult> results = runConcurrently(commands);

    for (const ProcessResult& result : results) {
        EXPECT_EQ(0, result.status);
        EXPECT_EQ("ok\n", result.output);
    }
    for (unsigned round = 0; round < rounds; ++round) {
        const std::string roundName = name + "-" + std::to_string(round);
        const BlockCleanup cleanup(roundName);
        EXPECT_EQ(racers, SharedRecord<PeerRecord>::openReadOnly(roundName)->visits)
            << "round " << round << ": a second construction wiped the visits counted before it";
    }
}

// --- One process --------------------------------------------------------

TEST(SharedRecord, MovingHandsOverTheNameWithTheRecord)
{
    const std::string name = uniqueName("move");
    BlockCleanup cleanup(name);
    auto first = SharedRecord<PeerRecord>::create(name);
    PeerRecord* record = first.get();
    {
        auto second = std::move(first);
        // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): the moved-from state is the point
        EXPECT_EQ(nullptr, first.get());
        EXPECT_EQ(record, second.get());
        first = SharedRecord<PeerRecord>::open(name);
        EXPECT_TRUE(blockExists(name));
    }
    EXPECT_FALSE(blockExists(name)) << "the owner, moved, still removes the name at its end";
}

TEST(SharedRecord, OwnerLeavesANameThatNowMeansAnotherRecord)
{
    const std::string name = uniqueName("renewed");
    BlockCleanup cleanup(name);
    {
        auto stale = SharedRecord<PeerRecord>::create(name);
        EXPECT_TRUE(SharedRecord<PeerRecord>::remove(name));
        SharedRecord<PeerRecord>::openOrCreate(name)->value = 7;
    }
    ASSERT_TRUE(blockExists(name));
    EXPECT_EQ(7u, SharedRecord<PeerRecord>::openReadOnly(name)->value);
}

// Counts its constructions: a refused name must be refused before a T is built.
struct CountedRecord {
    CountedRecord() : value(++built) {}
    static inline unsigned built = 0;
    unsigned value;
};

// Every call refuses a name the same way, before it touches anything; an
// accepted name works with each.
TEST(SharedRecord, EveryCallRefusesTheSameNamesUpFront)
{
    using Record = SharedRecord<CountedRecord>;
    const std::string u = uniqueName("n");
    const std::pair<std::string, bool> table[] = {
        // name, refused
        {u + std::string(255 - u.size(), 'x'), false},
        {u + std::string(256 - u.size(), 'x'), true},
        {u + "\x7F", true},
        {u + "\xC2\x9F", true},
        {u + "\xC2\xA0", false},
        {u + "\xF0\x9F\x98\x80", false},
        {u + "\xC0\xAF", true},         // overlong '/'
        {u + "\xED\xA0\x80", true},     // a UTF-16 surrogate
        {u + "\xE2\x82", true},         // cut short
        {u + "\xC3(", true},            // a lead byte without its continuation
        {u + "\xF4\x90\x80\x80", true}, // beyond U+10FFFF
        {u + "\xA0", true},             // a continuation byte alone
        {".okr-new-" + u, true},
        {".okr-shm-" + u, true},
        {".okr-shm" + u, false},
        {"", true},
        {"a/b", true},
        {"CON", true},
    };
    using Call = void (*)(const std::string&);
    const std::pair<const char*, Call> calls[] = {
        {"openOrCreate", [](const std::string& name) { Record::openOrCreate(name); }},
        {"open", [](const std::string& name) { Record::open(name); }},
        {"openReadOnly", [](const std::string& name) { Record::openReadOnly(name); }},
        {"open, waiting", [](const std::string& name) { Record::open(name, std::chrono::milliseconds(20)); }},
        {"openReadOnly, waiting",
         [](const std::string& name) { Record::openReadOnly(name, std::chrono::milliseconds(20)); }},
        {"takeOver", [](const std::string& name) { Record::takeOver(name); }}, // its owner lives
        {"remove", [](const std::string& name) { Record::remove(name); }},
    };
    for (const auto& [name, refused] : table) {
        SCOPED_TRACE(::testing::PrintToString(name));
        const BlockCleanup cleanup(refused ? u : name);
        const unsigned builtBefore = CountedRecord::built;
        const auto isRefusal = [](const SharedException& e) { return e.code() == okr::ipc::SharedError::refusedName; };
        std::optional<Record> owner;
        try {
            owner.emplace(Record::create(name));
            EXPECT_FALSE(refused) << "create accepted it";
        } catch (const SharedException& e) {
            EXPECT_TRUE(refused && isRefusal(e)) << "create: " << e.what();
        }
        for (const auto& [call, run] : calls) {
            try {
                run(name);
                EXPECT_FALSE(refused) << call << " accepted it";
            } catch (const SharedException& e) {
                EXPECT_EQ(refused, isRefusal(e)) << call << ": " << e.what();
            }
        }
        if (refused) {
            EXPECT_EQ(builtBefore, CountedRecord::built) << "a T was built for a refused name";
        }
    }
}

TEST(SharedRecord, RemoveSaysWhetherThereWasAName)
{
    const std::string name = uniqueName("remove");
    BlockCleanup cleanup(name);
    const auto reader = SharedRecord<PeerRecord>::openOrCreate(name);
    EXPECT_TRUE(SharedRecord<PeerRecord>::remove(name));
    EXPECT_FALSE(blockExists(name));
    EXPECT_FALSE(SharedRecord<PeerRecord>::remove(name));
    EXPECT_EQ(okr::testing::peerMagic, reader->magic) << "a process that maps the block keeps it";
}

} // namespace
