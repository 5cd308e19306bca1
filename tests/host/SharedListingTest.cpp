#include "host/SharedFolder.h"
#include "host/ShellQuoting.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

// A scratch folder of the test's own, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() : path(fs::temp_directory_path() / okr::testing::uniqueName("listing"))
    {
        fs::create_directories(path);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    void file(const fs::path& name) const { std::ofstream(path / name) << "x"; }
    void folder(const std::string& name) const { fs::create_directory(path / name); }
    std::string str() const { return path.string(); }

    fs::path path;
};

// Captures what listSharedFiles writes to standard output.
std::vector<std::string> listed(const std::string& folder, const std::string& pattern)
{
    std::ostringstream captured;
    std::streambuf* const saved = std::cout.rdbuf(captured.rdbuf());
    okr::host::listSharedFiles(folder, pattern);
    std::cout.rdbuf(saved);

    std::vector<std::string> lines;
    std::istringstream text(captured.str());
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(SharedListing, ListsMatchingRegularFilesOnePerLine)
{
    ScratchFolder scratch;
    scratch.file("okr-sync");
    scratch.file("okr-info-2305286734");
    scratch.file("other-okr-x");
    scratch.file("okr");

    EXPECT_EQ((std::vector<std::string>{"okr-info-2305286734", "okr-sync"}), listed(scratch.str(), "okr-*"));
}

TEST(SharedListing, SkipsFoldersAndHiddenFiles)
{
    ScratchFolder scratch;
    scratch.folder("okr-folder");
    scratch.file("okr-file");
#ifndef _WIN32
    scratch.file(".okr-hidden");
#endif
    EXPECT_EQ(std::vector<std::string>{"okr-file"}, listed(scratch.str(), "okr-*"));
    EXPECT_EQ(std::vector<std::string>{"okr-file"}, listed(scratch.str(), "*"));
}

TEST(SharedListing, FolderWithoutMatchesWritesNothing)
{
    ScratchFolder scratch;
    scratch.file("unrelated");
    EXPECT_TRUE(listed(scratch.str(), "okr-*").empty());
}

TEST(SharedListing, MissingFolderWritesNothingAndDoesNotThrow)
{
    ScratchFolder scratch;
    EXPECT_TRUE(listed((scratch.path / "missing").string(), "okr-*").empty());
}

TEST(SharedListing, NamesComeBackByteForByte)
{
    ScratchFolder scratch;
#ifdef _WIN32
    ASSERT_EQ(1252u, GetACP()) << "the expected bytes are code page 1252's";
    scratch.file("OKR-SYNC");
    scratch.file(L"okr-\u03a9");
    scratch.file(L"okr-\u00e9");
    scratch.file(L"okr-\u20ac");
    // Windows matches wildcards without regard to case and keeps the stored
    // spelling; names come in the ANSI code page, best-fit where it has no
    // match, as FindFirstFileA gives them.
    EXPECT_EQ((std::vector<std::string>{"OKR-SYNC", "okr-O", "okr-\x80", "okr-\xe9"}), listed(scratch.str(), "okr-*"));
#else
    scratch.file("OKR-SYNC");
    scratch.file("okr-caf\xc3\xa9");
    scratch.file("okr-raw\xff");
    EXPECT_EQ((std::vector<std::string>{"okr-caf\xc3\xa9", "okr-raw\xff"}), listed(scratch.str(), "okr-*"))
        << "matching is the platform's own: case-sensitive here";
#endif
}

// The check's listing: a name as it is, unless a control character in it
// could forge a line or reach the terminal; then quoted and escaped as
// okr-shm prints names.
TEST(SharedListing, NamesWithControlCharactersAreEscapedAndNoOtherIs)
{
    struct Listed {
        std::string name;
        std::string line;
    };
    std::vector<Listed> cases{
        {"okr-sync", "okr-sync"},
        {"okr-a b$'\\n'", "okr-a b$'\\n'"},
        {"okr-x\x1b]0;pwned\a", "'okr-x'$'\\033'']0;pwned'$'\\a'"},
        {"okr-y\nokr-info-1 is fine", "'okr-y'$'\\n''okr-info-1 is fine'"},
        {"okr-it's\t", "'okr-it'\\''s'$'\\t'"},
        {"okr-\x7f", "'okr-'$'\\177'"},
    };
#ifdef _WIN32
    // Bytes 0x80 to 0x9F are characters of the ANSI code page ("\x9b" is a
    // closing guillemet in 1252), or lead bytes of a double-byte one.
    cases.push_back({"okr-\x9b\x80", "okr-\x9b\x80"});
#else
    // C1 as UTF-8 or as a stray byte; no byte of another character.
    cases.push_back({"okr-\xc2\x9b"
                     "2J",
                     "'okr-'$'\\302\\233''2J'"});
    cases.push_back({"okr-\x9b", "'okr-'$'\\233'"});
    cases.push_back({"okr-\xc3\xa9\xe2\x82\xac\xff", "okr-\xc3\xa9\xe2\x82\xac\xff"});
    // C1's bounds: U+0080 and U+009F escaped, U+00A0 (a letter space) as is.
    cases.push_back({"okr-\xc2\x80\xc2\x9f", "'okr-'$'\\302\\200\\302\\237'"});
    cases.push_back({"okr-\xc2\xa0", "okr-\xc2\xa0"});
    // Invisible: a second okr-sync that reads as the first; a right-to-left
    // override that shows "okr-info-gpj.exe" as "okr-info-exe.jpg".
    cases.push_back({"okr-sync\xe2\x80\x8b", "'okr-sync'$'\\342\\200\\213'"});
    cases.push_back({"okr-info-\xe2\x80\xaegpj.exe", "'okr-info-'$'\\342\\200\\256''gpj.exe'"});
#endif
    for (const Listed& listed : cases) {
        EXPECT_EQ(listed.line, okr::host::listedName(listed.name)) << ::testing::PrintToString(listed.name);
    }
}

#ifndef _WIN32
// Which characters show as nothing is Unicode's to say: past ASCII, a name
// is quoted exactly for C1 and for what the installed Unicode data
// (unicode-data) calls Default_Ignorable_Code_Point, every code point tried.
TEST(SharedListing, EveryCharacterUnicodeCallsInvisibleIsQuotedAndNoOther)
{
    std::set<char32_t> invisible;
    std::ifstream properties("/usr/share/unicode/DerivedCoreProperties.txt");
    for (std::string line; std::getline(properties, line);) {
        // "200B..200F    ; Default_Ignorable_Code_Point # ...", or one code point
        if (line.find("; Default_Ignorable_Code_Point #") == std::string::npos) {
            continue;
        }
        char* end = nullptr;
        unsigned long first = std::strtoul(line.c_str(), &end, 16);
        const unsigned long last = *end == '.' ? std::strtoul(end + 2, nullptr, 16) : first;
        while (first <= last) {
            invisible.insert(static_cast<char32_t>(first++));
        }
    }
    ASSERT_GT(invisible.size(), 4096u) << "U+E0000 to U+E0FFF alone are 4096";
    std::vector<char32_t> wrong;
    for (char32_t code = 0x80; code <= 0x10FFFF; code += code == 0xD7FF ? 0x801 : 1) { // no surrogates
        const int more = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;                    // continuation bytes
        std::string name = "okr-";
        name += static_cast<char>(0xFF << (7 - more) | code >> 6 * more);
        for (int at = more - 1; at >= 0; --at) {
            name += static_cast<char>(0x80 | (code >> 6 * at & 0x3F));
        }
        const bool quoted = okr::host::listedName(name) != name;
        if (quoted != (code <= 0x9F || invisible.count(code) == 1)) {
            wrong.push_back(code);
        }
    }
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " wrong, the first U+" << std::hex
                               << static_cast<unsigned long>(wrong.empty() ? 0 : wrong.front());
}

TEST(SharedListing, AHostileNameCannotForgeALineNorRetitleTheTerminal)
{
    ScratchFolder scratch;
    scratch.file("okr-x\x1b]0;pwned\a");
    scratch.file("okr-y\nokr-info-1 is fine");
    EXPECT_EQ((std::vector<std::string>{"'okr-x'$'\\033'']0;pwned'$'\\a'", "'okr-y'$'\\n''okr-info-1 is fine'"}),
              listed(scratch.str(), "okr-*"));
}
#endif

} // namespace
