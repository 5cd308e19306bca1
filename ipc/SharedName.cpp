#include "SharedName.h"

namespace okr {
namespace ipc {

bool isValidSharedName(const std::string& name) noexcept
{
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    // An embedded NUL would silently cut the name the platform sees.
    return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

} // namespace ipc
} // namespace okr
