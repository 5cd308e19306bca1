#include "SharedName.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace okr {
namespace ipc {

namespace {

bool hasRefusedCharacter(std::string_view name)
{
    constexpr std::string_view refused = "/\\:<>\"|?*";
    // NUL is among the control characters; it would silently cut the name.
    return std::any_of(name.begin(), name.end(), [refused](char c) {
        return static_cast<unsigned char>(c) < 0x20 || refused.find(c) != std::string_view::npos;
    });
}

bool sameIgnoringCase(std::string_view text, std::string_view upperCase)
{
    return text.size() == upperCase.size() &&
           std::equal(text.begin(), text.end(), upperCase.begin(),
                      [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

// Windows takes the part before the first "." (trailing spaces dropped) as
// a device name, whatever the extension and the letter case.
bool isDeviceName(std::string_view name)
{
    std::string_view stem = name.substr(0, name.find('.'));
    stem = stem.substr(0, stem.find_last_not_of(' ') + 1); // npos + 1 is 0: all spaces
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
        if (sameIgnoringCase(stem, device)) {
            return true;
        }
    }
    if (stem.size() < 4 ||
        !(sameIgnoringCase(stem.substr(0, 3), "COM") || sameIgnoringCase(stem.substr(0, 3), "LPT"))) {
        return false;
    }
    // Windows also takes the superscripts 1, 2 and 3 for port numbers. They
    // are refused in both narrow forms a name can reach Windows in: UTF-8
    // (the wide calls' text) and the ANSI code page 1252 of the "A" calls.
    const std::string_view number = stem.substr(3);
    for (const std::string_view digit : {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3", "\xB9", "\xB2", "\xB3"}) {
        if (number == digit) {
            return true;
        }
    }
    return number.size() == 1 && number[0] >= '1' && number[0] <= '9';
}

} // namespace

bool isValidSharedName(const std::string& name) noexcept
{
    if (name.empty() || name.back() == '.' || name.back() == ' ' || hasRefusedCharacter(name)) {
        return false;
    }
    return !isDeviceName(name);
}

} // namespace ipc
} // namespace okr
