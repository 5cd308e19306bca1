#include "PrivateWorld.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace okr {
namespace testing {

namespace {

// Pid 1 of the new namespace: mounts the world's /proc, then reaps whatever
// is left to it until the test ends the world.
[[noreturn]] void runReaper(int ready)
{
    const char mounted = mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0 ? 1 : 0;
    (void)!write(ready, &mounted, 1);
    close(ready);
    for (;;) {
        if (wait(nullptr) < 0) {
            pause();
        }
    }
}

} // namespace

void PrivateWorld::SetUp()
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "a world of its own (mount and pid namespaces) needs root";
    }
    PrivateSharedMemory::SetUp();
    if (HasFatalFailure()) {
        return;
    }
    outerProc = open("/proc", O_DIRECTORY | O_CLOEXEC);
    outerProcesses = open("/proc/self/ns/pid", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(0, unshare(CLONE_NEWPID)) << "new pid namespace";
    int ready[2];
    ASSERT_EQ(0, pipe2(ready, O_CLOEXEC));
    reaper = fork();
    if (reaper == 0) {
        close(ready[0]);
        runReaper(ready[1]);
    }
    close(ready[1]);
    char mounted = 0;
    (void)!read(ready[0], &mounted, 1);
    close(ready[0]);
    ASSERT_EQ(1, mounted) << "the world's /proc";
}

void PrivateWorld::TearDown()
{
    // Ending pid 1 ends every process still in the world.
    if (reaper > 0) {
        kill(reaper, SIGKILL);
        waitpid(reaper, nullptr, 0);
    }
    if (outerProcesses >= 0) {
        setns(outerProcesses, CLONE_NEWPID);
    }
    for (int fd : {outerProc, outerProcesses}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    PrivateSharedMemory::TearDown();
}

pid_t PrivateWorld::idInWorld(pid_t pid) const
{
    // NSpid lists the ids from the outermost namespace in, the world's last.
    const int status = openat(outerProc, (std::to_string(pid) + "/status").c_str(), O_RDONLY | O_CLOEXEC);
    char text[4096] = {};
    const ssize_t got = status >= 0 ? read(status, text, sizeof text - 1) : -1;
    if (status >= 0) {
        close(status);
    }
    const std::string fields(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    const std::size_t line = fields.find("NSpid:");
    if (line == std::string::npos) {
        return -1;
    }
    const std::string ids = fields.substr(line, fields.find('\n', line) - line);
    return static_cast<pid_t>(std::stol(ids.substr(ids.find_last_of(" \t") + 1)));
}

} // namespace testing
} // namespace okr
