#include "tool/inventory/AccountNames.h"

#include <pwd.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace okr {
namespace tool {

std::string lookUpAccountName(const std::string& accountId)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long uid = std::strtoul(accountId.c_str(), &end, 10);
    if (accountId.empty() || *end != '\0' || errno != 0) {
        return std::string();
    }
    std::vector<char> room(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(static_cast<uid_t>(uid), &entry, room.data(), room.size(), &found) != 0 || found == nullptr) {
        return std::string();
    }
    return found->pw_name;
}

} // namespace tool
} // namespace okr
