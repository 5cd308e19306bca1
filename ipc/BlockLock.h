#ifndef OKR_IPC_BLOCKLOCK_H
#define OKR_IPC_BLOCKLOCK_H

// The user lock of ipc/RecordLocks.h on the blocks that SharedType maps
// through Boost (BlockLockPosix.cpp, BlockLockWindows.cpp).

#include <boost/interprocess/shared_memory_object.hpp>

#include <string>

namespace okr {
namespace ipc {

// Takes the user lock without waiting; false while an exclusive holder has it.
bool tryTakeUserLock(const boost::interprocess::shared_memory_object& shm);

// Whether name still means the file shm has open.
bool nameStillMeans(const std::string& name, const boost::interprocess::shared_memory_object& shm);

} // namespace ipc
} // namespace okr

#endif
