#include "tool/inventory/AccountNames.h"

#include "tool/system/WideText.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <vector>

namespace okr {
namespace tool {

// LookupAccountSidW: the name as Windows keeps it, in the tool's WTF-8, so
// that a name outside the ANSI code page shows as itself.
std::string lookUpAccountName(const std::string& accountId)
{
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(accountId.c_str(), &sid)) {
        return std::string();
    }
    std::vector<wchar_t> name(256);
    std::vector<wchar_t> domain(256);
    std::string result;
    for (;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD domainSize = static_cast<DWORD>(domain.size());
        SID_NAME_USE use;
        if (LookupAccountSidW(nullptr, sid, name.data(), &nameSize, domain.data(), &domainSize, &use)) {
            result = wtf8FromUtf16(std::u16string(name.data(), name.data() + nameSize));
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
