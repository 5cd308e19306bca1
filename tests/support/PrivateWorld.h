#ifndef OKR_TESTS_PRIVATEWORLD_H
#define OKR_TESTS_PRIVATEWORLD_H

#include "PrivateSharedMemory.h"

#include <sys/types.h>

namespace okr {
namespace testing {

// A test with a world of its own: a fresh, empty /dev/shm and a /proc that
// shows only the processes the test starts. The test process itself enters
// the new mount namespace and starts its children in a new process-id
// namespace, so the check, the tool and any peer it starts all share that
// world, and nothing outside it (no other test, no process the tool could
// not inspect) is in sight. Skips unless run as root.
class PrivateWorld : public PrivateSharedMemory {
protected:
    void SetUp() override;
    void TearDown() override;

    // The id that a process the test started has inside the world.
    pid_t idInWorld(pid_t pid) const;

private:
    int outerProc = -1;
    int outerProcesses = -1;
    pid_t reaper = -1;
};

} // namespace testing
} // namespace okr

#endif
