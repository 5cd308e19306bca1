#include "tool/folder/UnpublishedName.h"

#include <algorithm>
#include <cstddef>

namespace okr {
namespace tool {

namespace {

const std::string prefix = ".okr-new-";
constexpr std::size_t randomDigits = 24; // 96 random bits

bool isLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

} // namespace

// Byte for byte, also where the file system ignores case: the library never
// writes an upper-case digit, so ".OKR-NEW-..." is someone else's file.
bool isUnpublishedName(const std::string& name)
{
    return name.size() == prefix.size() + randomDigits && name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), isLowerHexDigit);
}

} // namespace tool
} // namespace okr
