#include "RecordName.h"

#include <boost/crc.hpp>

namespace okr {
namespace common {

std::string infoRecordName(std::int32_t processId, const std::string& userId, const std::string& prefix)
{
    const std::string hashed = std::to_string(processId) + userId;
    boost::crc_32_type crc;
    crc.process_bytes(hashed.data(), hashed.size());
    return prefix + std::to_string(static_cast<std::uint32_t>(crc.checksum()));
}

} // namespace common
} // namespace okr
