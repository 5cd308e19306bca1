#include "BlockReservation.h"

namespace okr {
namespace ipc {

// Each block is a file, and extending a file allocates its clusters: a full
// disk already fails truncate.
void reserveBlockMemory(const boost::interprocess::shared_memory_object& /*block*/, std::size_t /*size*/) {}

} // namespace ipc
} // namespace okr
