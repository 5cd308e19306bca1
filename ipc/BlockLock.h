#ifndef OKR_IPC_BLOCKLOCK_H
#define OKR_IPC_BLOCKLOCK_H

// The user lock of ipc/RecordLocks.h on a block SharedTypeBase opened
// through Boost.Interprocess, so that tools see its blocks in use as they
// see SharedRecord's (BlockLockPosix.cpp, BlockLockWindows.cpp).

#include <boost/interprocess/shared_memory_object.hpp>

#include <string>

namespace okr {
namespace ipc {

// Takes the user lock without waiting; false while someone deciding the
// block is unused holds it exclusively (and may be removing its name).
bool tryTakeUserLock(const boost::interprocess::shared_memory_object& shm);

// Whether name still means the block shm has open: it may have been found
// unused and removed, or removed and made again, since shm was opened.
bool nameStillMeans(const std::string& name, const boost::interprocess::shared_memory_object& shm);

} // namespace ipc
} // namespace okr

#endif
