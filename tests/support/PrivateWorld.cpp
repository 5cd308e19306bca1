#include "PrivateWorld.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>

namespace okr {
namespace testing {

namespace {

// Pid 1 of the new namespace: reaps whatever is left to it until the test
// ends the world.
[[noreturn]] void runReaper()
{
    for (;;) {
        if (wait(nullptr) < 0) {
            pause();
        }
    }
}

// Every id of every process, in every namespace it belongs to.
std::set<pid_t> idsInUse()
{
    std::set<pid_t> ids;
    DIR* proc = opendir("/proc");
    while (const dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
        std::ifstream status(std::string("/proc/") + entry->d_name + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("NSpid:", 0) == 0) {
                std::istringstream fields(line.substr(6));
                for (pid_t id = 0; fields >> id;) {
                    ids.insert(id);
                }
            }
        }
    }
    if (proc != nullptr) {
        closedir(proc);
    }
    return ids;
}

long readNumber(const char* path)
{
    std::ifstream file(path);
    long value = 0;
    file >> value;
    return value;
}

} // namespace

void PrivateWorld::SetUp()
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "a world of its own (a mount namespace) needs root";
    }
    PrivateSharedMemory::SetUp();
}

void PrivateWorld::startChildrenInOwnPidNamespace()
{
    outerProcesses = open("/proc/self/ns/pid", O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, outerProcesses);
    ASSERT_EQ(0, unshare(CLONE_NEWPID)) << "new pid namespace";
    reaper = fork();
    if (reaper == 0) {
        runReaper();
    }
    ASSERT_LT(0, reaper);
    // It exists once its first process does.
    worldProcesses = open("/proc/self/ns/pid_for_children", O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, worldProcesses);
}

void PrivateWorld::setNextIdInWorld(pid_t id)
{
    // The kernel hands out the id after the last one its namespace handed
    // out; only a process inside may say which that was.
    const pid_t writer = fork();
    if (writer == 0) {
        const int last = open("/proc/sys/kernel/ns_last_pid", O_WRONLY | O_CLOEXEC);
        const std::string text = std::to_string(id - 1);
        _exit(last >= 0 && write(last, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    int status = 0;
    waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ns_last_pid";
}

pid_t PrivateWorld::unusedProcessId()
{
    const long highest = readNumber("/proc/sys/kernel/pid_max") - 1;
    const long next = readNumber("/proc/sys/kernel/ns_last_pid") + 1;
    const std::set<pid_t> used = idsInUse();
    std::mt19937 random(std::random_device{}());
    // Half the id space away from the next one the machine hands out.
    std::uniform_int_distribution<long> offset(highest / 4, highest * 3 / 4);
    for (;;) {
        const auto id = static_cast<pid_t>(300 + (next + offset(random)) % (highest - 300));
        if (used.count(id) == 0) {
            return id;
        }
    }
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
    for (int fd : {outerProcesses, worldProcesses}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    PrivateSharedMemory::TearDown();
}

void PrivateWorld::startOutside(const std::function<void()>& start)
{
    if (outerProcesses < 0) {
        start();
        return;
    }
    ASSERT_EQ(0, setns(outerProcesses, CLONE_NEWPID));
    start();
    ASSERT_EQ(0, setns(worldProcesses, CLONE_NEWPID));
}

pid_t PrivateWorld::idInWorld(pid_t pid)
{
    // NSpid lists the ids from the outermost namespace in, the world's last.
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("NSpid:", 0) == 0) {
            return static_cast<pid_t>(std::stol(line.substr(line.find_last_of(" \t") + 1)));
        }
    }
    return -1;
}

} // namespace testing
} // namespace okr
