#include "tool/inventory/AccountNames.h"

namespace okr {
namespace tool {

const std::string& AccountNames::nameOf(const std::string& accountId)
{
    auto found = known.find(accountId);
    if (found == known.end()) {
        found = known.emplace(accountId, lookUpAccountName(accountId)).first;
    }
    return found->second;
}

} // namespace tool
} // namespace okr
