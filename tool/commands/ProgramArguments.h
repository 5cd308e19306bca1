#ifndef OKR_TOOL_PROGRAMARGUMENTS_H
#define OKR_TOOL_PROGRAMARGUMENTS_H

#include <string>
#include <vector>

namespace okr {
namespace tool {

// The command line, program name first, as the tool carries text: bytes on
// POSIX; on Windows the wide command line as WTF-8, so that a name outside
// the ANSI code page arrives as itself.
std::vector<std::string> programArguments(int argc, char** argv);

} // namespace tool
} // namespace okr

#endif
