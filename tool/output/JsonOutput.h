#ifndef OKR_TOOL_JSONOUTPUT_H
#define OKR_TOOL_JSONOUTPUT_H

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

namespace okr {
namespace tool {

// Writes value indented, one document per call. Text that is not UTF-8
// comes out with U+FFFD in place of the bad bytes instead of ending the
// program; names go through jsonText first, so theirs never do.
void printJson(const nlohmann::json& value, std::ostream& out);

// Text as a JSON string can hold it exactly: itself when it is UTF-8,
// otherwise its printed form (printedName), which is pure UTF-8 and spells
// the text's every byte.
std::string jsonText(const std::string& text);

} // namespace tool
} // namespace okr

#endif
