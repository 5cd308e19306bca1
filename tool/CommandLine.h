#ifndef OKR_TOOL_COMMANDLINE_H
#define OKR_TOOL_COMMANDLINE_H

namespace okr {
namespace tool {

// Reads the command line, runs the command and returns the exit status:
// 0 done, 1 could not be done, 2 a usage error (with the usage on standard
// error).
int runCommandLine(int argc, const char* const* argv);

} // namespace tool
} // namespace okr

#endif
