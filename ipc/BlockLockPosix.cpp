#include "BlockLock.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

namespace okr {
namespace ipc {

bool tryTakeUserLock(const boost::interprocess::shared_memory_object& shm)
{
    const int fd = shm.get_mapping_handle().handle;
    int result = 0;
    do {
        result = flock(fd, LOCK_SH | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool nameStillMeans(const std::string& name, const boost::interprocess::shared_memory_object& shm)
{
    // Boost opens the name with shm_open, which keeps it in /dev/shm.
    struct stat held = {};
    struct stat named = {};
    return fstat(shm.get_mapping_handle().handle, &held) == 0 && lstat(("/dev/shm/" + name).c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace ipc
} // namespace okr
