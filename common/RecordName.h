#ifndef OKR_COMMON_RECORDNAME_H
#define OKR_COMMON_RECORDNAME_H

#include "ipc/Export.h"

#include <cstdint>
#include <string>

namespace okr {
namespace common {

// The name of a process's information record: prefix + decimal CRC-32 of the
// process id in decimal followed directly by the user id's bytes. Every
// process that looks the record up must derive the same name, so nothing
// here may change: no separator, no case folding, no padding.
OKR_API std::string infoRecordName(std::int32_t processId, const std::string& userId, const std::string& prefix);

} // namespace common
} // namespace okr

#endif
