#include "JsonOutput.h"

namespace okr {
namespace tool {

void printJson(const nlohmann::json& value, std::ostream& out)
{
    out << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}

} // namespace tool
} // namespace okr
