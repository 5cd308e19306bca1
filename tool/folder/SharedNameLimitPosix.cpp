#include "tool/folder/SharedNameLimit.h"

#include <climits>

#include <unistd.h>

namespace okr {
namespace tool {

bool fitsSharedFolder(const std::string& folder, const std::string& name)
{
    const long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
    return name.size() <= (longest > 0 ? static_cast<std::size_t>(longest) : std::size_t{NAME_MAX});
}

} // namespace tool
} // namespace okr
