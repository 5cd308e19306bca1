#include "common/LogInfo"
#include "common/SharedSyncInfo"
#include "ipc/SharedType"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

using okr::common::InfoEntry;
using okr::common::InfoSlot;
using okr::common::LogInfo;
using okr::ipc::SharedType;
using namespace okr::testing;

TEST(SharedRecordLayout, SizesAreThoseEveryPeerMaps)
{
    EXPECT_EQ(16u, sizeof(SharedSyncInfo));
    EXPECT_EQ(135880u, sizeof(LogInfo));
    EXPECT_EQ(536u, sizeof(InfoEntry));
    EXPECT_EQ(512u, sizeof(InfoSlot));
}

TEST(SharedRecordLayout, OffsetsMatchTheSharedLayout)
{
    EXPECT_EQ(18u, offsetof(InfoEntry, entrySlot)) << "not moved to 20 by alignment";
    EXPECT_EQ(32u, offsetof(LogInfo, firstSlot));
    EXPECT_EQ(544u, offsetof(LogInfo, slots1));
    EXPECT_EQ(4640u, offsetof(LogInfo, entries1));
    EXPECT_EQ(8928u, offsetof(LogInfo, slots2));
    EXPECT_EQ(9440u, offsetof(LogInfo, slots2) + sizeof(InfoSlot));
    EXPECT_EQ(11488u, offsetof(LogInfo, midArea));
    EXPECT_EQ(11552u, offsetof(LogInfo, entries2));
    EXPECT_EQ(15840u, offsetof(LogInfo, tailArea));
}

// Constructs T in a buffer full of a marker byte, the way create() does.
template <class T>
std::vector<unsigned char> constructOver(unsigned char marker)
{
    std::vector<unsigned char> buffer(sizeof(T), marker);
    ::new (buffer.data()) T;
    return buffer;
}

TEST(SharedRecordConstruction, SyncInfoZeroesAllSixteenBytes)
{
    EXPECT_EQ(std::vector<unsigned char>(16, 0), constructOver<SharedSyncInfo>(0xA5));
}

TEST(SharedRecordConstruction, InfoRecordsWriteNoByte)
{
    EXPECT_EQ(std::vector<unsigned char>(sizeof(InfoSlot), 0xA5), constructOver<InfoSlot>(0xA5));
    EXPECT_EQ(std::vector<unsigned char>(sizeof(InfoEntry), 0xA5), constructOver<InfoEntry>(0xA5));
    EXPECT_EQ(std::vector<unsigned char>(sizeof(LogInfo), 0xA5), constructOver<LogInfo>(0xA5));
}

// Fills a block with a pattern no constructor would write by accident.
std::vector<unsigned char> pattern(std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(0x80u | (i * 7u % 127u));
    }
    return bytes;
}

TEST(SharedRecordInBlock, NewSyncBlockReadsAsZeros)
{
    const std::string name = uniqueName("sync");
    BlockCleanup cleanup(name);
    SharedType<SharedSyncInfo> sync(name, 1);
    sync.create();
    EXPECT_EQ(std::vector<unsigned char>(16, 0), readBlock(name));
}

TEST(SharedRecordInBlock, SyncOverLargerFilledBlockComesOutSixteenZeros)
{
    const std::string name = uniqueName("sync");
    BlockCleanup cleanup(name);
    writeBlock(name, pattern(100));
    SharedType<SharedSyncInfo> sync(name, 1);
    sync.create();
    EXPECT_EQ(std::vector<unsigned char>(16, 0), readBlock(name));
}

TEST(SharedRecordInBlock, NewInfoBlockReadsAsZeros)
{
    const std::string name = uniqueName("info");
    BlockCleanup cleanup(name);
    SharedType<LogInfo> info(name, 1);
    info.create();
    EXPECT_EQ(std::vector<unsigned char>(sizeof(LogInfo), 0), readBlock(name));
}

TEST(SharedRecordInBlock, InfoOverFilledBlockKeepsEveryByte)
{
    const std::string name = uniqueName("info");
    BlockCleanup cleanup(name);
    const std::vector<unsigned char> before = pattern(sizeof(LogInfo));
    writeBlock(name, before);

    SharedType<LogInfo> info(name, 1);
    info.create();

    EXPECT_TRUE(before == readBlock(name)) << "creating the record must not change a byte";
}

TEST(SharedRecordInBlock, InfoOverLargerBlockIsCutToSizeKeepingItsHead)
{
    const std::string name = uniqueName("info");
    BlockCleanup cleanup(name);
    const std::vector<unsigned char> before = pattern(sizeof(LogInfo) + 5000);
    writeBlock(name, before);

    SharedType<LogInfo> info(name, 1);
    info.create();

    const std::vector<unsigned char> after = readBlock(name);
    ASSERT_EQ(sizeof(LogInfo), after.size());
    EXPECT_TRUE(std::equal(after.begin(), after.end(), before.begin()));
}

TEST(SharedRecordInBlock, InfoOverSmallerBlockIsExtendedWithZeros)
{
    const std::string name = uniqueName("info");
    BlockCleanup cleanup(name);
    const std::vector<unsigned char> before = pattern(1000);
    writeBlock(name, before);

    SharedType<LogInfo> info(name, 1);
    info.create();

    const std::vector<unsigned char> after = readBlock(name);
    ASSERT_EQ(sizeof(LogInfo), after.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
    EXPECT_TRUE(std::all_of(after.begin() + 1000, after.end(), [](unsigned char b) { return b == 0; }));
}

} // namespace
