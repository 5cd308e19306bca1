#include "tool/folder/SetAsideName.h"

namespace okr {
namespace tool {

// No version of clean ever moved an object aside on Windows.
bool isSetAsideName(const std::string&) { return false; }

std::string setAsideFrom(const std::string&) { return std::string(); }

} // namespace tool
} // namespace okr
