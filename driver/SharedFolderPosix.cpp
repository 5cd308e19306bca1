#include "SharedFolder.h"

namespace okr {
namespace driver {

// Boost.Interprocess uses POSIX shared memory here, whose names glibc keeps
// as files in this folder.
std::string sharedFolder() { return "/dev/shm"; }

} // namespace driver
} // namespace okr
