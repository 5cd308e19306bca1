#include "tool/folder/SetAsideName.h"

#include "tool/folder/UnpublishedName.h"

#include <cstddef>

namespace okr {
namespace tool {

namespace {

const std::string prefix = ".okr-shm-";
constexpr std::size_t randomDigits = 16;

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

} // namespace

bool isSetAsideName(const std::string& name) { return name.compare(0, prefix.size(), prefix) == 0; }

std::string setAsideFrom(const std::string& name)
{
    const std::size_t dash = prefix.size() + randomDigits;
    if (!isSetAsideName(name) || name.size() <= dash + 1 || name[dash] != '-') {
        return std::string();
    }
    for (std::size_t at = prefix.size(); at < dash; ++at) {
        if (!isHexDigit(name[at])) {
            return std::string();
        }
    }
    // Only okr-* objects and unpublished blocks were ever set aside: any
    // other name is no product's, and "." or ".." no file's.
    const std::string from = name.substr(dash + 1);
    return from.compare(0, 4, "okr-") == 0 || isUnpublishedName(from) ? from : std::string();
}

} // namespace tool
} // namespace okr
