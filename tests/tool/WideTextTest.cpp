// Windows names as the tool carries them: every UTF-16 name, valid or not,
// has one narrow form and comes back from it unchanged.

#include "tool/system/WideText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using okr::tool::utf16FromWtf8;
using okr::tool::wtf8FromUtf16;

struct Name {
    const char* what;
    std::u16string utf16;
    std::string narrow;
};

void PrintTo(const Name& name, std::ostream* out) { *out << name.what; }

class WideName : public ::testing::TestWithParam<Name> {};

TEST_P(WideName, HasOneNarrowFormAndComesBackFromIt)
{
    EXPECT_EQ(GetParam().narrow, wtf8FromUtf16(GetParam().utf16));
    std::u16string back;
    ASSERT_TRUE(utf16FromWtf8(GetParam().narrow, back));
    EXPECT_EQ(GetParam().utf16, back);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WideName,
    ::testing::Values(Name{"ascii", u"okr-sync", "okr-sync"}, Name{"empty", u"", ""},
                      Name{"two-byte", u"okr-\u03A9z", "okr-\xCE\xA9z"},
                      Name{"fullwidth solidus", u"okr-x\uFF0F..", "okr-x\xEF\xBC\x8F.."},
                      Name{"pair", u"okr-\U0001F600", "okr-\xF0\x9F\x98\x80"},
                      Name{"lone lead", std::u16string(u"okr-") + char16_t(0xD800), "okr-\xED\xA0\x80"},
                      Name{"lone trail", std::u16string(u"okr-") + char16_t(0xDC00) + u"x", "okr-\xED\xB0\x80x"},
                      Name{"trail then lead", std::u16string{char16_t(0xDC00), char16_t(0xD800)},
                           "\xED\xB0\x80\xED\xA0\x80"}));

TEST(WideNameRefused, BytesNoUtf16NameGives)
{
    std::u16string out;
    for (const std::string bytes : {"\xFF", "okr-\xC0\xAF", "\xE2\x82", "\xF4\x90\x80\x80", "\x80",
                                    // a pair written as two surrogates reads back as the pair
                                    "\xED\xA0\xBD\xED\xB8\x80"}) {
        EXPECT_FALSE(utf16FromWtf8(bytes, out)) << ::testing::PrintToString(bytes);
    }
}

} // namespace
