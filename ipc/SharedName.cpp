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
    const std::string_view port = stem.substr(0, 3);
    return stem.size() == 4 && (sameIgnoringCase(port, "COM") || sameIgnoringCase(port, "LPT")) && stem[3] >= '1' &&
           stem[3] <= '9';
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
