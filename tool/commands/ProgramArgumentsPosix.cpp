#include "tool/commands/ProgramArguments.h"

namespace okr {
namespace tool {

std::vector<std::string> programArguments(int argc, char** argv) { return {argv, argv + argc}; }

} // namespace tool
} // namespace okr
