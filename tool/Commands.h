#ifndef OKR_TOOL_COMMANDS_H
#define OKR_TOOL_COMMANDS_H

#include <string>

namespace okr {
namespace tool {

// Each returns the exit status: 0 when it did all it was asked, 1 when not.

int listObjects(bool json);
int showObject(const std::string& name, bool json, bool hex);
int cleanObjects(bool dryRun);

} // namespace tool
} // namespace okr

#endif
