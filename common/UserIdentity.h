#ifndef OKR_COMMON_USERIDENTITY_H
#define OKR_COMMON_USERIDENTITY_H

#include "ipc/Export.h"

#include <string>

namespace okr {
namespace common {

// The logged-on user's security identifier in its string form ("S-1-..."),
// or an empty string when it cannot be found. Never throws for a platform
// failure.
OKR_API std::string currentUserSid();

} // namespace common
} // namespace okr

#endif
