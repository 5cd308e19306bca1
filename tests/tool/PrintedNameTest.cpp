// Names as okr-shm prints them: one quoting style (ls's shell-escape), in
// which no name looks like another or like a row, and which reads back.

#include "tool/output/PrintedName.h"
#include "tool/output/TerminalText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using okr::tool::displayWidth;
using okr::tool::isExactUtf8;
using okr::tool::nameFromPrinted;
using okr::tool::printedName;

struct Printed {
    std::string name;
    std::string printed;
};

void PrintTo(const Printed& printed, std::ostream* out) { *out << ::testing::PrintToString(printed.name); }

class PrintedName : public ::testing::TestWithParam<Printed> {};

TEST_P(PrintedName, IsQuotedAsLsQuotesItAndReadsBack)
{
    EXPECT_EQ(GetParam().printed, printedName(GetParam().name));
    std::string back;
    ASSERT_TRUE(nameFromPrinted(GetParam().printed, back));
    EXPECT_EQ(GetParam().name, back);
}

// As `ls --quoting-style=shell-escape` prints them under C.UTF-8, but for the
// invisible and blank characters that ls shows as they are.
INSTANTIATE_TEST_SUITE_P(
    Names, PrintedName,
    ::testing::Values(Printed{"okr-sync", "okr-sync"}, Printed{"okr-%+,-.:@_]", "okr-%+,-.:@_]"},
                      Printed{"okr-#~{", "okr-#~{"}, Printed{"okr-Жук", "okr-Жук"}, Printed{"okr-日本", "okr-日本"},
                      Printed{"okr-a\nokr-info-99 info", "'okr-a'$'\\n''okr-info-99 info'"},
                      Printed{"okr-\x1b[31mred", "'okr-'$'\\033''[31mred'"}, Printed{"okr-info-1 ", "'okr-info-1 '"},
                      Printed{"okr-\xff\xfe", "'okr-'$'\\377\\376'"}, Printed{"okr-\xfe\xff", "'okr-'$'\\376\\377'"},
                      Printed{"\n", "''$'\\n'"}, Printed{"a\a\b\v\f\r\x01", "'a'$'\\a\\b\\v\\f\\r\\001'"},
                      Printed{"a\n'b", "'a'$'\\n'\\''b'"}, Printed{"'\n", "''\\'''$'\\n'"},
                      Printed{"okr-it's", "\"okr-it's\""}, Printed{"it's a", "\"it's a\""},
                      Printed{"~it's", "\"~it's\""}, Printed{"it's~", "'it'\\''s~'"}, Printed{"it's$", "'it'\\''s$'"},
                      Printed{"it\"s", "'it\"s'"}, Printed{"okr-$x", "'okr-$x'"}, Printed{"okr-\\b", "'okr-\\b'"},
                      Printed{"#okr", "'#okr'"}, Printed{"=okr", "'=okr'"}, Printed{"{", "'{'"}, Printed{"", "''"},
                      Printed{"okr-\x7f", "'okr-'$'\\177'"}, Printed{"okr-\xc2\x80", "'okr-'$'\\302\\200'"},
                      // where ls shows the character itself
                      Printed{"okr-sync\xe2\x80\x8b", "'okr-sync'$'\\342\\200\\213'"},
                      Printed{"okr-a\xc2\xa0"
                              "b",
                              "'okr-a'$'\\302\\240''b'"},
                      Printed{"okr-\xe2\x80\xae"
                              "cnys",
                              "'okr-'$'\\342\\200\\256''cnys'"},
                      // an unpaired surrogate in WTF-8, as Windows names may hold
                      Printed{"okr-\xed\xa0\x80", "'okr-'$'\\355\\240\\200'"},
                      // blank on a terminal, found by Unicode's properties: a named
                      // blank (U+2800 braille, U+13441 hieroglyph), default-ignorable
                      // fillers (U+3164, U+FFA0, U+115F), White_Space (U+2029)
                      Printed{"okr-\xe2\xa0\x80", "'okr-'$'\\342\\240\\200'"},
                      Printed{"okr-\xf0\x93\x91\x81", "'okr-'$'\\360\\223\\221\\201'"},
                      Printed{"okr-\xe3\x85\xa4"
                              "x",
                              "'okr-'$'\\343\\205\\244''x'"},
                      Printed{"okr-\xef\xbe\xa0", "'okr-'$'\\357\\276\\240'"},
                      Printed{"\xe1\x85\x9f"
                              "okr",
                              "''$'\\341\\205\\237''okr'"},
                      Printed{"okr-\xe2\x80\xa9", "'okr-'$'\\342\\200\\251'"},
                      // a braille pattern with dots is no blank
                      Printed{"okr-\xe2\xa0\x81", "okr-\xe2\xa0\x81"},
                      // an overlong "/" is three stray bytes, never the character
                      Printed{"okr-\xe0\x80\xaf", "'okr-'$'\\340\\200\\257'"}));

TEST(PrintedNameReading, TakesWhatAShellTakesAndRefusesWhatItWouldExpand)
{
    for (const auto& read : {Printed{"okr-a b", "\"okr-a b\""}, Printed{"okr-a'b", "okr-a\\'b"},
                             Printed{"okr-A\x1b\xff", "$'okr-\\x41\\e\\xff'"}, Printed{"a'b", "'a'\"'\"'b'"},
                             Printed{"$`\"\\x", "\"\\$\\`\\\"\\\\x\""}, Printed{"okr-=^!{}", "okr-=^!{}"}}) {
        std::string name;
        EXPECT_TRUE(nameFromPrinted(read.printed, name)) << read.printed;
        EXPECT_EQ(read.name, name) << read.printed;
    }
    for (const char* text : {"'open", "$'open", "\"open", "$'\\q'", "\"$HOME\"", "\"`id`\"", "okr-*", "a b", "~root",
                             "#x", "x;y", "$x", "okr\\", "okr-a\\ b", "okr-x\\..\\boot.ini"}) {
        std::string name;
        EXPECT_FALSE(nameFromPrinted(text, name)) << text;
    }
}

TEST(TerminalText, WidthCountsColumnsNotBytes)
{
    EXPECT_EQ(0u, displayWidth(""));
    EXPECT_EQ(8u, displayWidth("okr-sync"));
    EXPECT_EQ(7u, displayWidth("okr-Жук"));
    EXPECT_EQ(8u, displayWidth("okr-日本"));
    EXPECT_EQ(5u, displayWidth("okr-e\xcc\x81")); // e and a combining acute
    EXPECT_EQ(6u, displayWidth("okr-\xff\xfe"));
}

TEST(TerminalText, ExactUtf8IsWhatJsonCanHold)
{
    EXPECT_TRUE(isExactUtf8("okr-Жук \n"));
    for (const char* text : {"okr-\xff", "okr-\xc0\xaf", "okr-\xed\xa0\x80", "okr-\xe2\x82"}) {
        EXPECT_FALSE(isExactUtf8(text)) << ::testing::PrintToString(std::string(text));
    }
}

} // namespace
