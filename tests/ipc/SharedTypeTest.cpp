#include "ipc/SharedType"
#include "ipc/SharedName.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using okr::ipc::SharedException;
using okr::ipc::SharedType;
using okr::ipc::SharedTypeBase;
using namespace okr::testing;

struct Record {
    Record() : value(0x11223344), tail{} {}
    unsigned value;
    unsigned char tail[60];
};

constexpr int creating = 1;
constexpr int opening = 0;

// --- Creating side --------------------------------------------------------

TEST(SharedTypeCreating, NameIsReturnedExactlyAsGiven)
{
    const std::string name = uniqueName("name");
    SharedType<Record> object(name, creating);
    EXPECT_EQ(name, object.name());
    EXPECT_EQ(nullptr, object.address());
    EXPECT_EQ(nullptr, object.record());
}

TEST(SharedTypeCreating, ConstructionTouchesNoSharedMemory)
{
    const std::string name = uniqueName("lazy");
    BlockCleanup cleanup(name);
    auto* object = new SharedType<Record>(name, creating);
    EXPECT_FALSE(blockExists(name));
    delete object;
}

TEST(SharedTypeCreating, CreateMakesBlockOfRecordSizeAndConstructsRecord)
{
    const std::string name = uniqueName("fresh");
    BlockCleanup cleanup(name);
    SharedType<Record> object(name, creating);

    EXPECT_TRUE(object.create());

    ASSERT_NE(nullptr, object.record());
    EXPECT_EQ(object.address(), static_cast<void*>(object.record()));
    EXPECT_EQ(0x11223344u, object.record()->value);
    EXPECT_EQ(sizeof(Record), blockSize(name));
}

// A peer's record type of plain members only: value-initialising it (T())
// would zero the block before anyone looked.
struct PlainRecord {
    unsigned char bytes[64];
};

TEST(SharedTypeCreating, RecordWithoutAConstructorOfItsOwnKeepsWhatPeersFilled)
{
    const std::string name = uniqueName("plain");
    BlockCleanup cleanup(name);
    const std::vector<unsigned char> filled(sizeof(PlainRecord), 0x5A);
    writeBlock(name, filled);

    SharedType<PlainRecord> object(name, creating);
    object.create();

    EXPECT_EQ(filled, readBlock(name));
}

TEST(SharedTypeCreating, ExistingBlockOfAnotherSizeIsResizedAndRecordRebuilt)
{
    const std::string name = uniqueName("resize");
    BlockCleanup cleanup(name);
    writeBlock(name, std::vector<unsigned char>(3 * sizeof(Record), 0xEE));

    SharedType<Record> object(name, creating);
    object.create();

    EXPECT_EQ(sizeof(Record), blockSize(name));
    const std::vector<unsigned char> bytes = readBlock(name);
    Record expected;
    EXPECT_EQ(0, std::memcmp(&expected, bytes.data(), sizeof(Record)));
}

TEST(SharedTypeCreating, TwoObjectsWithOneNameShareOneBlock)
{
    const std::string name = uniqueName("shared");
    BlockCleanup cleanup(name);
    SharedType<Record> first(name, creating);
    SharedType<Record> second(name, creating);
    first.create();
    second.create();

    first.record()->value = 42;
    EXPECT_EQ(42u, second.record()->value);
}

TEST(SharedTypeCreating, CreateAgainRemapsAndKeepsObjectUsable)
{
    const std::string name = uniqueName("again");
    BlockCleanup cleanup(name);
    SharedType<Record> object(name, creating);
    object.create();
    object.record()->value = 7;

    object.create();

    ASSERT_NE(nullptr, object.record());
    EXPECT_EQ(object.address(), static_cast<void*>(object.record()));
    EXPECT_EQ(0x11223344u, object.record()->value) << "the record is constructed again";
}

TEST(SharedTypeCreating, UntypedCreateMapsExactlyTheGivenSize)
{
    const std::string name = uniqueName("untyped");
    BlockCleanup cleanup(name);
    SharedTypeBase object(name, creating);
    EXPECT_TRUE(object.create(4096 + 3));
    EXPECT_NE(nullptr, object.address());
    EXPECT_EQ(4096u + 3u, blockSize(name));
}

// --- Opening side ---------------------------------------------------------

TEST(SharedTypeOpening, MissingNameThrowsAndCreatesNothing)
{
    const std::string name = uniqueName("missing");
    BlockCleanup cleanup(name);
    SharedType<Record> object(name, opening);

    EXPECT_THROW(object.create(), SharedException);
    EXPECT_FALSE(blockExists(name));
    EXPECT_EQ(nullptr, object.record());
}

TEST(SharedTypeOpening, SeesWhatTheCreatingSideWroteWithoutConstructing)
{
    const std::string name = uniqueName("reader");
    BlockCleanup cleanup(name);
    SharedType<Record> writer(name, creating);
    writer.create();
    writer.record()->value = 0xCAFE;
    writer.record()->tail[59] = 9;

    SharedType<Record> reader(name, 2);
    errno = EINTR; // as an earlier call of the caller's may leave it
    EXPECT_TRUE(reader.create());

    ASSERT_NE(nullptr, reader.record());
    EXPECT_EQ(0xCAFEu, reader.record()->value);
    EXPECT_EQ(9, reader.record()->tail[59]);
    EXPECT_EQ(sizeof(Record), blockSize(name)) << "the opening side never resizes";
}

TEST(SharedTypeOpening, BlockSmallerThanRecordThrows)
{
    const std::string name = uniqueName("short");
    BlockCleanup cleanup(name);
    writeBlock(name, std::vector<unsigned char>(sizeof(Record) - 1, 0x5A));

    SharedType<Record> reader(name, opening);
    EXPECT_THROW(reader.create(), SharedException);
    EXPECT_EQ(nullptr, reader.record());
    EXPECT_EQ(std::vector<unsigned char>(sizeof(Record) - 1, 0x5A), readBlock(name));
}

TEST(SharedTypeOpening, EmptyBlockThrows)
{
    const std::string name = uniqueName("empty");
    BlockCleanup cleanup(name);
    writeBlock(name, {});
    SharedTypeBase reader(name, opening);
    EXPECT_THROW(reader.create(16), SharedException);
}

// --- Destruction ----------------------------------------------------------

TEST(SharedTypeDestruction, RemovesNameThatWasNeverCreatedByThisObject)
{
    const std::string name = uniqueName("never");
    BlockCleanup cleanup(name);
    writeBlock(name, std::vector<unsigned char>(8, 1));

    delete new SharedType<Record>(name, creating);

    EXPECT_FALSE(blockExists(name));
}

TEST(SharedTypeDestruction, RemovesNameAfterSuccessfulCreate)
{
    const std::string name = uniqueName("created");
    BlockCleanup cleanup(name);
    auto* object = new SharedType<Record>(name, creating);
    object->create();
    ASSERT_TRUE(blockExists(name));

    delete object;

    EXPECT_FALSE(blockExists(name));
}

TEST(SharedTypeDestruction, RemovesNameAfterFailedCreate)
{
    const std::string name = uniqueName("failed");
    BlockCleanup cleanup(name);
    writeBlock(name, std::vector<unsigned char>(4, 1));
    auto* reader = new SharedType<Record>(name, opening);
    EXPECT_THROW(reader->create(), SharedException);

    delete reader;

    EXPECT_FALSE(blockExists(name));
}

TEST(SharedTypeDestruction, OpeningSideRemovesNameToo)
{
    const std::string name = uniqueName("opener");
    BlockCleanup cleanup(name);
    writeBlock(name, std::vector<unsigned char>(sizeof(Record), 3));
    auto* reader = new SharedType<Record>(name, opening);
    reader->create();

    delete reader;

    EXPECT_FALSE(blockExists(name));
}

TEST(SharedTypeDestruction, MissingNameIsSilent)
{
    const std::string name = uniqueName("absent");
    EXPECT_NO_THROW({ SharedTypeBase object(name, creating); });
    EXPECT_FALSE(blockExists(name));
}

TEST(SharedTypeDestruction, NameCanBeCreatedFreshAfterDelete)
{
    const std::string name = uniqueName("reuse");
    BlockCleanup cleanup(name);
    auto* first = new SharedType<Record>(name, creating);
    first->create();
    first->record()->tail[0] = 0x77;
    delete first;

    SharedTypeBase second(name, creating);
    second.create(sizeof(Record));

    const std::vector<unsigned char> bytes = readBlock(name);
    EXPECT_EQ(std::vector<unsigned char>(sizeof(Record), 0), bytes) << "a fresh block reads as zeros";
}

// --- Names that would leave the shared folder or that Windows rewrites ----

class SharedTypeRefusedName : public ::testing::TestWithParam<std::string> {};

TEST_P(SharedTypeRefusedName, CreateThrowsBeforeTouchingAnything)
{
    SharedTypeBase writer(GetParam(), creating);
    EXPECT_THROW(writer.create(16), SharedException);
    EXPECT_EQ(nullptr, writer.address());

    SharedTypeBase reader(GetParam(), opening);
    EXPECT_THROW(reader.create(16), SharedException);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SharedTypeRefusedName,
    ::testing::Values(std::string(), ".", "..", "okr/escape", "/okr-lead", "okr\\escape", "..\\okr", "../okr",
                      std::string("okr\0x", 5), "okr-dot.", "okr-space ", "okr-x:stream", "CON", "con.txt",
                      "Nul.tar.gz", "aux .log", "prn", "COM1", "com9.x", "LPT1", "lpt9", "okr<", "okr>", "okr\"",
                      "okr|", "okr?", "okr*", "okr\x01", "okr\x1f",
                      // superscript port numbers, in UTF-8 and in code page 1252
                      "COM\xC2\xB9", "com\xC2\xB2.txt", "LpT\xC2\xB3 .log", "COM\xB9", "lpt\xB2.x", "LPT\xB3"),
    [](const ::testing::TestParamInfo<std::string>& param) { return "shape" + std::to_string(param.index); });

TEST(SharedTypeNames, NamesNearTheRefusedOnesAreAccepted)
{
    for (const char* name : {"okr-sync", "okr-info-2305286734", "console", "com10", "lpt", "nul-okr", "okr.con", ".okr",
                             "okr x", "okr-\xce\xa9", "COM\xC2\xB9x", "lpt\xC2\xBC", "com\xB9\xB9"}) {
        EXPECT_TRUE(okr::ipc::isValidSharedName(name)) << name;
    }
}

TEST(SharedTypeNames, RefusedNameIsNotRemovedOnDestruction)
{
    // "okr" plus a slash would, unchecked, reach the block "okr" itself on
    // some platforms; a sibling block must survive the refused object.
    const std::string sibling = uniqueName("sibling");
    BlockCleanup cleanup(sibling);
    writeBlock(sibling, std::vector<unsigned char>(4, 9));

    {
        SharedTypeBase leading("/" + sibling, creating);
    }
    {
        SharedTypeBase trailing(sibling + "/", creating);
    }
    {
        // Windows would drop the dot and remove the sibling's file.
        SharedTypeBase dotted(sibling + ".", creating);
    }

    EXPECT_TRUE(blockExists(sibling));
}

} // namespace
