#ifndef OKR_IPC_RECORDLOCKS_H
#define OKR_IPC_RECORDLOCKS_H

// The locks every process that maps a block through the library holds on
// the block's own file, so that anyone can tell from outside whether a
// record is in use, whether its owner lives, and remove a name safely.
// okr(3) describes them for other tools; okr-shm reads them.
//
// Linux (the file in /dev/shm):
//   user  flock(2) LOCK_SH, held by every process for as long as it maps
//         the block; /proc/locks shows the holder's pid.
//   owner open-file-description write lock (F_OFD_SETLK) on byte
//         ownerByte, held by the owner of the name for as long as it is.
//   name  open-file-description write lock on byte nameByte, taken without
//         waiting by whoever removes the name, only for as long as it takes
//         to see the name still means this file and remove it.
//   Whoever decides that a block is unused takes flock LOCK_EX without
//   waiting: it succeeds only while no user holds the block, and for as long
//   as it is held no user can arrive (a user that meets it tries again).
//
// Windows (the block's file handle, LockFileEx, each one byte, far beyond
// any record's bytes so that no read or write of the record meets them):
//   user  shared lock on windowsLockBase + userByte
//   owner exclusive lock on windowsLockBase + ownerByte
//   name  exclusive lock on windowsLockBase + nameByte
//   Unused: an exclusive lock on windowsLockBase + userByte.

#include <cstdint>

namespace okr {
namespace ipc {
namespace recordLocks {

inline constexpr std::uint64_t userByte = 0; // Windows only; Linux uses flock
inline constexpr std::uint64_t ownerByte = 1;
inline constexpr std::uint64_t nameByte = 2;
inline constexpr std::uint64_t windowsLockBase = 0x7FFFFFFF00000000ull;

} // namespace recordLocks
} // namespace ipc
} // namespace okr

#endif
