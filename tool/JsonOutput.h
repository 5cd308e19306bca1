#ifndef OKR_TOOL_JSONOUTPUT_H
#define OKR_TOOL_JSONOUTPUT_H

#include <nlohmann/json.hpp>

#include <ostream>

namespace okr {
namespace tool {

// Writes value indented, one document per call. Text that is not UTF-8 (a
// file name of arbitrary bytes) comes out with U+FFFD in place of the bad
// bytes instead of ending the program.
void printJson(const nlohmann::json& value, std::ostream& out);

} // namespace tool
} // namespace okr

#endif
