#include "tool/folder/SetAsideName.h"

namespace okr {
namespace tool {

// Removal on Windows goes through one handle that shuts every other out: no
// object is ever moved aside, so no name is a set-aside one.
bool isSetAsideName(const std::string&) { return false; }

std::string setAsideFrom(const std::string&) { return std::string(); }

} // namespace tool
} // namespace okr
