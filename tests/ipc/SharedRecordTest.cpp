// SharedRecord between real processes: okr-test-record-peer is the other
// process. Blocks are looked at through plain Boost calls (ShmTestSupport).

#include "ipc/SharedRecord"
#include "helpers/PeerRecord.h"
#include "support/ProcessRunner.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
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
                                           ExitCase{"read", true, true}, ExitCase{"takeOver", true, false}),
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
                                           RefusalCase{"read", 100, recordError::otherSize},
                                           RefusalCase{"takeOver", 0, recordError::nameMissing},
                                           RefusalCase{"takeOver", 100, recordError::otherSize}),
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
        EXPECT_TRUE(stale.isCurrent());
        EXPECT_TRUE(SharedRecord<PeerRecord>::remove(name));
        EXPECT_FALSE(stale.isCurrent());
        const auto renewed = SharedRecord<PeerRecord>::openOrCreate(name);
        renewed->value = 7;
        EXPECT_TRUE(renewed.isCurrent());
        EXPECT_FALSE(stale.isCurrent());
    }
    ASSERT_TRUE(blockExists(name));
    EXPECT_EQ(7u, SharedRecord<PeerRecord>::openReadOnly(name)->value);
}

struct CountedRecord {
    CountedRecord() : value(++built) {}
    static inline unsigned built = 0;
    unsigned value;
};

// Every call refuses a name alike, before it builds a T; an accepted name
// works with each (takeOver meets the live owner).
TEST(SharedRecord, EveryCallRefusesTheSameNamesUpFront)
{
    using Record = SharedRecord<CountedRecord>;
    using Owner = std::optional<Record>;
    const std::string u = uniqueName("n");
    const std::vector<std::string> names[] = {
        {u + std::string(255 - u.size(), 'x'), u + "\xC2\xA0", u + "\xC3\x84", u + "\xE0\xA0\x80", // accepted
         u + "\xEF\xBC\xA1", u + "\xF0\x90\x80\x80", u + "\xF1\x80\x80\x80", u + "\xF0\x9F\x98\x80",
         u + "\xF4\x8F\xBF\xBF", u + "~", u + "\xDF\xBF", u + "\xED\x9F\xBF", u + "\xEE\x80\x80"},
        {u + std::string(256 - u.size(), 'x'), u + "\x7F", u + "\xC2\x9F", u + "\xC0\xAF", u + "\xED\xA0\x80",
         u + "\xED\xBF\xBF", u + "\xC3(", u + "\xF4\x90\x80\x80", u + "\xBF\x80", ".okr-new-" + u, ".okr-shm-" + u,
         "a/b", "\x80" + u, u + "\xE0\x9F\xBF", u + "\xF0\x8F\xBF\xBF"}};
    void (*const calls[])(const std::string&, Owner&) = {
        [](const std::string& n, Owner& o) { o.emplace(Record::create(n)); },
        [](const std::string& n, Owner&) { Record::openOrCreate(n); },
        [](const std::string& n, Owner&) { Record::open(n); },
        [](const std::string& n, Owner&) { Record::openReadOnly(n, std::chrono::milliseconds(20)); },
        [](const std::string& n, Owner&) { Record::takeOver(n); },
        [](const std::string& n, Owner&) { Record::remove(n); }};
    for (const bool refused : {false, true}) {
        for (const std::string& name : names[refused ? 1 : 0]) {
            const BlockCleanup cleanup(refused ? u : name);
            const unsigned built = CountedRecord::built;
            Owner owner;
            for (std::size_t call = 0; call < std::size(calls); ++call) {
                try {
                    calls[call](name, owner);
                    EXPECT_FALSE(refused) << "call " << call << " accepted " << ::testing::PrintToString(name);
                } catch (const SharedException& e) {
                    EXPECT_EQ(refused, e.code() == okr::ipc::SharedError::refusedName) << call << ": " << e.what();
                }
            }
            EXPECT_EQ(refused ? built : built + 1, CountedRecord::built) << ::testing::PrintToString(name);
        }
    }
}

// Each access a creator may give makes a record that others open.
TEST(SharedRecord, EachAccessMakesARecordThatOpens)
{
    using okr::ipc::RecordAccess;
    for (const RecordAccess access : {RecordAccess::user, RecordAccess::group, RecordAccess::everyone}) {
        const std::string name = uniqueName("access");
        BlockCleanup cleanup(name);
        const auto owner = SharedRecord<PeerRecord>::create(name, access);
        owner->value = 7;
        EXPECT_EQ(7u, SharedRecord<PeerRecord>::openReadOnly(name)->value) << static_cast<int>(access);
    }
}

// A wait that saw nothing come leaves no spent watch behind: the next one in
// the same thread still sees the name appear.
TEST(SharedRecord, AWaitAfterOneThatTimedOutSeesTheNameAppear)
{
    const std::string name = uniqueName("wait");
    BlockCleanup cleanup(name);
    EXPECT_THROW(SharedRecord<PeerRecord>::openReadOnly(name, std::chrono::milliseconds(50)), SharedException);
    std::optional<SharedRecord<PeerRecord>> owner;
    std::thread maker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        owner.emplace(SharedRecord<PeerRecord>::create(name));
    });
    EXPECT_NO_THROW(SharedRecord<PeerRecord>::openReadOnly(name, std::chrono::seconds(30)));
    maker.join();
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
