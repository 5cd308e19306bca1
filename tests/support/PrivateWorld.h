#ifndef OKR_TESTS_PRIVATEWORLD_H
#define OKR_TESTS_PRIVATEWORLD_H

#include "PrivateSharedMemory.h"

#include <functional>
#include <sys/types.h>

namespace okr {
namespace testing {

// A test with a world of its own: a fresh, empty /dev/shm that every process
// the test starts shares (the test process enters a mount namespace of its
// own), under the machine's /proc, so that okr-shm sees every process as it
// does when an operator runs it. Skips unless run as root.
//
// On request the processes the test starts from then on live in a pid
// namespace of their own, where the test chooses their ids; the tool's runs
// (startOutside) stay in the test's namespace. Whatever is left in it ends
// with the test.
class PrivateWorld : public PrivateSharedMemory {
protected:
    void SetUp() override;
    void TearDown() override;

    void startChildrenInOwnPidNamespace();
    // The next process the test starts in its pid namespace gets this id there.
    void setNextIdInWorld(pid_t id);
    // An id that no process has in any namespace now, far from where the
    // machine hands out new ones: a record named with it is nobody's.
    static pid_t unusedProcessId();
    // The id that a process the test started has in its own namespace.
    static pid_t idInWorld(pid_t pid);

    // Calls start, which starts a process, in the test's own pid namespace.
    void startOutside(const std::function<void()>& start);

private:
    int outerProcesses = -1;
    int worldProcesses = -1;
    pid_t reaper = -1;
};

} // namespace testing
} // namespace okr

#endif
