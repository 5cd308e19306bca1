#include "common/RecordName"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

namespace {

using okr::common::infoRecordName;

TEST(InfoRecordName, WorkedExamples)
{
    EXPECT_EQ("okr-info-2305286734", infoRecordName(1234, "abc", "okr-info-"));
    EXPECT_EQ("okr-info-594422469", infoRecordName(1236, "abc", "okr-info-")) << "no leading zeros";
    EXPECT_EQ("okr-info-2615402659", infoRecordName(1234, "", "okr-info-")) << "empty user id";
}

TEST(InfoRecordName, StandardCrc32CheckValue)
{
    // The catalogue check value of CRC-32: "123456789" gives 0xCBF43926.
    EXPECT_EQ("3421780262", infoRecordName(12345, "6789", ""));
}

TEST(InfoRecordName, NoSeparatorBetweenProcessIdAndUser)
{
    EXPECT_EQ(infoRecordName(1234, "abc", "okr-info-"), infoRecordName(12, "34abc", "okr-info-"));
}

TEST(InfoRecordName, SameInputsSameName)
{
    EXPECT_EQ(infoRecordName(77, "operator", "p-"), infoRecordName(77, "operator", "p-"));
}

TEST(InfoRecordName, EverySingleByteChangeChangesTheName)
{
    const std::string base = infoRecordName(1234, "abc", "");
    EXPECT_NE(base, infoRecordName(1235, "abc", ""));
    EXPECT_NE(base, infoRecordName(1234, "abd", ""));
    EXPECT_NE(base, infoRecordName(1234, "ABC", "")) << "no case folding";
    EXPECT_NE(base, infoRecordName(1234, "abc ", "")) << "no trimming";
}

TEST(InfoRecordName, ProcessIdIsSignedDecimal)
{
    EXPECT_EQ(infoRecordName(-12, "", ""), infoRecordName(-1, "2", ""));
    EXPECT_EQ(infoRecordName(INT32_MIN, "", ""), infoRecordName(-214748364, "8", ""));
}

TEST(InfoRecordName, UserIdIsHashedByteForByte)
{
    const std::string utf8User = "J\xc3\xb6rg";
    EXPECT_EQ(infoRecordName(1, utf8User, ""), infoRecordName(1, utf8User, ""));
    EXPECT_NE(infoRecordName(1, utf8User, ""), infoRecordName(1, "J\xf6rg", ""));
    EXPECT_EQ(infoRecordName(1, std::string("a\0b", 3), ""), infoRecordName(1, std::string("a\0b", 3), ""));
    EXPECT_NE(infoRecordName(1, std::string("a\0b", 3), ""), infoRecordName(1, "a", ""));
}

TEST(InfoRecordName, EmptyPrefixGivesBareChecksumOfOneToTenDigits)
{
    std::set<std::string> seen;
    for (std::int32_t pid = 0; pid < 2000; ++pid) {
        const std::string name = infoRecordName(pid, "user", "");
        ASSERT_FALSE(name.empty());
        ASSERT_LE(name.size(), 10u);
        ASSERT_TRUE(name == "0" || name[0] != '0') << name;
        ASSERT_EQ(std::string::npos, name.find_first_not_of("0123456789")) << name;
        seen.insert(name);
    }
    EXPECT_EQ(2000u, seen.size());
}

} // namespace
