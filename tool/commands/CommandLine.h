#ifndef OKR_TOOL_COMMANDLINE_H
#define OKR_TOOL_COMMANDLINE_H

#include <string>
#include <vector>

namespace okr {
namespace tool {

// Reads the command line (program name first), runs the command and returns
// the exit status: 0 done, 1 could not be done, 2 a usage error (with the
// usage on standard error).
int runCommandLine(const std::vector<std::string>& arguments);

} // namespace tool
} // namespace okr

#endif
