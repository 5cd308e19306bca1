#include "PrivateSharedMemory.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace okr {
namespace testing {

void PrivateSharedMemory::SetUp()
{
    if (geteuid() != 0) {
        return;
    }
    outerMounts = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, outerMounts) << "the test's own mount namespace";
    ASSERT_EQ(0, unshare(CLONE_NEWNS)) << "new mount namespace";
    ASSERT_EQ(0, mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) << "private mounts";
    ASSERT_EQ(0, mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777")) << "private /dev/shm";
}

void PrivateSharedMemory::TearDown()
{
    // The tmpfs goes with the last process that sees it.
    if (outerMounts >= 0) {
        setns(outerMounts, CLONE_NEWNS);
        close(outerMounts);
        outerMounts = -1;
    }
}

} // namespace testing
} // namespace okr
