#ifndef OKR_IPC_BLOCKRESERVATION_H
#define OKR_IPC_BLOCKRESERVATION_H

#include <boost/interprocess/shared_memory_object.hpp>

#include <cstddef>

namespace okr {
namespace ipc {

// Gives a freshly sized block the memory for its first size bytes, so that a
// full machine fails the creating side here, with interprocess_exception,
// rather than killing whichever process first writes into the record.
// Leaves every byte as it was.
void reserveBlockMemory(const boost::interprocess::shared_memory_object& block, std::size_t size);

} // namespace ipc
} // namespace okr

#endif
