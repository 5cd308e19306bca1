#include "AccountNames.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <vector>

namespace okr {
namespace tool {

// LookupAccountSidA: the name in the ANSI code page, as GetUserNameA gives
// it to the account's own processes.
std::string lookUpAccountName(const std::string& accountId)
{
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(accountId.c_str(), &sid)) {
        return std::string();
    }
    std::vector<char> name(256);
    std::vector<char> domain(256);
    std::string result;
    for (;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD domainSize = static_cast<DWORD>(domain.size());
        SID_NAME_USE use;
        if (LookupAccountSidA(nullptr, sid, name.data(), &nameSize, domain.data(), &domainSize, &use)) {
            result = name.data();
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || (nameSize <= name.size() && domainSize <= domain.size())) {
            break;
        }
        name.resize(std::max<std::size_t>(name.size(), nameSize));
        domain.resize(std::max<std::size_t>(domain.size(), domainSize));
    }
    LocalFree(sid);
    return result;
}

} // namespace tool
} // namespace okr
