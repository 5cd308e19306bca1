#ifndef OKR_TOOL_ACCOUNTNAMES_H
#define OKR_TOOL_ACCOUNTNAMES_H

#include <map>
#include <string>

namespace okr {
namespace tool {

// The name of the account that the platform identifies by accountId (a
// decimal uid, or a SID in its string form), as the tool carries text (bytes
// on POSIX, WTF-8 on Windows); empty when the account has no name.
std::string lookUpAccountName(const std::string& accountId);

// Looks each account up once: thousands of objects usually share one owner.
class AccountNames {
public:
    const std::string& nameOf(const std::string& accountId);

private:
    std::map<std::string, std::string> known;
};

} // namespace tool
} // namespace okr

#endif
