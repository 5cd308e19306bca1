#include "tool/output/JsonOutput.h"

#include "tool/output/PrintedName.h"

namespace okr {
namespace tool {

void printJson(const nlohmann::json& value, std::ostream& out)
{
    out << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

std::string jsonText(const std::string& text) { return isExactUtf8(text) ? text : printedName(text); }

} // namespace tool
} // namespace okr
