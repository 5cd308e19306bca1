#ifndef OKR_DRIVER_LOGINNAME_H
#define OKR_DRIVER_LOGINNAME_H

#include <string>

namespace okr {
namespace driver {

// The current user's login name as UTF-8, exactly the bytes every process
// of the product hashes into the information record's name; empty when the
// platform knows none.
std::string loginNameUtf8();

} // namespace driver
} // namespace okr

#endif
