#include "UserIdentity.h"

#include <unistd.h>

namespace okr {
namespace common {

// Unix users have no SIDs; this is the conventional mapping of a Unix user
// id into the SID space (as Samba and Windows' NFS client use it).
std::string currentUserSid() { return "S-1-22-1-" + std::to_string(geteuid()); }

} // namespace common
} // namespace okr
