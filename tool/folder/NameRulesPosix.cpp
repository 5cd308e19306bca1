#include "tool/folder/NameRules.h"

namespace okr {
namespace tool {

bool sameName(const std::string& a, const std::string& b) { return a == b; }

bool nameStartsWith(const std::string& name, const std::string& prefix)
{
    return name.compare(0, prefix.size(), prefix) == 0;
}

// A listing never gives "/" inside a name, and every name is opened relative
// to its folder's descriptor.
bool isOpenableName(const std::string& name) { return !name.empty() && name != "." && name != ".."; }

bool isEntryName(const std::string& name)
{
    return isOpenableName(name) && name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

} // namespace tool
} // namespace okr
