#include "tool/inventory/ProcessTable.h"

#include "tool/inventory/AccountNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

namespace okr {
namespace tool {

namespace {

// Reads a whole /proc file; 0 or the errno of the failure.
int readProcFile(const std::string& path, std::string& text)
{
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    char buffer[16384];
    int failure = 0;
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            failure = errno;
            break;
        }
    }
    close(fd);
    return failure;
}

// A process that ended while it was looked at is simply no longer there.
bool isGone(int failure) { return failure == ENOENT || failure == ESRCH; }

bool isProcessId(const char* name)
{
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

template <class Visit>
bool forEachProcessId(Visit visit)
{
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    while (const dirent* entry = readdir(proc)) {
        if (isProcessId(entry->d_name)) {
            visit(std::string(entry->d_name));
        }
    }
    closedir(proc);
    return true;
}

// With hidepid, /proc shows an unprivileged reader only its own processes,
// and nothing else says that others are missing.
bool procHidesProcesses()
{
    if (geteuid() == 0) {
        return false;
    }
    std::string mounts;
    if (readProcFile("/proc/self/mountinfo", mounts) != 0) {
        return true;
    }
    std::istringstream lines(mounts);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" /proc ") == std::string::npos || line.find(" - proc ") == std::string::npos) {
            continue;
        }
        const std::size_t hide = line.find("hidepid=");
        if (hide != std::string::npos && line.compare(hide, 10, "hidepid=0") != 0 &&
            line.compare(hide, 11, "hidepid=off") != 0) {
            return true;
        }
        if (line.find("subset=pid") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The numbers after "key:" on its line of a status file.
std::vector<ProcessId> statusValues(const std::string& status, const std::string& key)
{
    std::vector<ProcessId> values;
    const std::string label = key + ":";
    std::size_t start = 0;
    if (status.compare(0, label.size(), label) != 0) {
        start = status.find("\n" + label);
        if (start == std::string::npos) {
            return values;
        }
        ++start;
    }
    start += label.size();
    const std::size_t end = status.find('\n', start);
    std::istringstream fields(status.substr(start, end == std::string::npos ? end : end - start));
    for (long long value = 0; fields >> value;) {
        values.push_back(value);
    }
    return values;
}

// The inode number the kernel gives the initial pid namespace, for good
// (PROC_PID_INIT_INO).
constexpr ino_t initialPidNamespace = 0xEFFFFFFCU;

// Whether /proc shows every process that could map the shared folder. Not in
// a child pid namespace (a container that shares the host's /dev/shm is one):
// processes outside it can map the folder and no /proc it can read shows
// them. Not when /proc is another namespace's than the tool's own: then
// /proc/self is not the tool, or its NSpid (the ids from /proc's namespace
// inward) has more than one. Not with hidepid, as an unprivileged reader.
bool seesEveryProcess()
{
    static const bool everyProcess = [] {
        char self[32] = {};
        const ssize_t length = readlink("/proc/self", self, sizeof self - 1);
        if (length <= 0 || std::string(self, static_cast<std::size_t>(length)) != std::to_string(getpid())) {
            return false;
        }
        std::string status;
        struct stat space;
        return readProcFile("/proc/self/status", status) == 0 && statusValues(status, "NSpid").size() == 1 &&
               stat("/proc/self/ns/pid", &space) == 0 && space.st_ino == initialPidNamespace && !procHidesProcesses();
    }();
    return everyProcess;
}

// For a process whose descriptors and mappings may not be read: false only
// when none of its mounts is the folder's file system, so that it cannot
// reach the folder's objects by any path.
bool mayReach(const std::string& pid, std::uint64_t device)
{
    std::string mounts;
    if (readProcFile("/proc/" + pid + "/mountinfo", mounts) != 0 || mounts.empty()) {
        return true;
    }
    // Each line: mount id, parent id, major:minor (decimal), ...
    std::istringstream lines(mounts);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string mountId;
        std::string parentId;
        std::string numbers;
        fields >> mountId >> parentId >> numbers;
        const std::size_t colon = numbers.find(':');
        char* end = nullptr;
        errno = 0;
        const unsigned long major = std::strtoul(numbers.c_str(), &end, 10);
        const bool majorRead = colon != std::string::npos && end == numbers.c_str() + colon;
        const unsigned long minor = majorRead ? std::strtoul(end + 1, &end, 10) : 0;
        if (!majorRead || *end != '\0' || errno != 0 ||
            makedev(static_cast<unsigned int>(major), static_cast<unsigned int>(minor)) == device) {
            return true; // what cannot be read may be the folder's
        }
    }
    return false;
}

bool isDenied(int failure) { return failure == EACCES || failure == EPERM; }

} // namespace

ProcessList liveProcesses()
{
    ProcessList list;
    list.complete = seesEveryProcess();
    AccountNames accounts;
    const bool listed = forEachProcessId([&list, &accounts](const std::string& pid) {
        std::string status;
        const int failure = readProcFile("/proc/" + pid + "/status", status);
        if (failure != 0) {
            list.complete = list.complete && isGone(failure);
            return;
        }
        if (status.find("\nState:\tZ") != std::string::npos) {
            return; // ended, only not yet reaped: its record is nobody's now
        }
        const std::vector<ProcessId> uids = statusValues(status, "Uid");
        if (uids.empty()) {
            list.complete = false;
            return;
        }
        // The real user, as getuid() gives it to the process itself; no name
        // means an empty one, as for the process itself.
        LiveProcess process{std::strtoll(pid.c_str(), nullptr, 10), statusValues(status, "NSpid"),
                            accounts.nameOf(std::to_string(uids.front()))};
        if (process.namespaceIds.empty()) {
            process.namespaceIds.push_back(process.pid);
        }
        list.processes.push_back(process);
    });
    list.complete = list.complete && listed;
    return list;
}

struct ObjectUsers::Scan {
    std::map<std::uint64_t, std::vector<ProcessId>> usersByInode;
    bool complete = true;
};

namespace {

void addUser(std::vector<ProcessId>& pids, ProcessId id)
{
    if (std::find(pids.begin(), pids.end(), id) == pids.end()) {
        pids.push_back(id);
    }
}

// The files a process holds open, as fuser finds them: each descriptor's
// target, by device and inode. 0 or the errno of the failure.
int readDescriptors(const std::string& pid, std::uint64_t device, ProcessId id,
                    std::map<std::uint64_t, std::vector<ProcessId>>& users)
{
    const std::string path = "/proc/" + pid + "/fd";
    DIR* fds = opendir(path.c_str());
    if (fds == nullptr) {
        return errno;
    }
    while (const dirent* entry = readdir(fds)) {
        struct stat target;
        if (entry->d_name[0] != '.' && fstatat(dirfd(fds), entry->d_name, &target, 0) == 0 && target.st_dev == device) {
            addUser(users[target.st_ino], id);
        }
    }
    closedir(fds);
    return 0;
}

// The files a process maps. 0 or the errno of the failure.
int readMappings(const std::string& pid, std::uint64_t device, ProcessId id,
                 std::map<std::uint64_t, std::vector<ProcessId>>& users)
{
    std::string maps;
    const int failure = readProcFile("/proc/" + pid + "/maps", maps);
    if (failure != 0) {
        return failure;
    }
    // Each line: range, permissions, offset, major:minor (hex), inode, path.
    const char* line = maps.c_str();
    while (*line != '\0') {
        const char* field = line;
        for (int skip = 0; skip < 3 && field != nullptr; ++skip) {
            field = std::strchr(field, ' ');
            field = field != nullptr ? field + 1 : nullptr;
        }
        char* end = nullptr;
        if (field != nullptr) {
            const auto major = static_cast<unsigned int>(std::strtoul(field, &end, 16));
            const auto minor = static_cast<unsigned int>(*end == ':' ? std::strtoul(end + 1, &end, 16) : 0);
            const unsigned long long inode = std::strtoull(end, &end, 10);
            if (inode != 0 && makedev(major, minor) == device) {
                addUser(users[inode], id);
            }
        }
        const char* next = std::strchr(line, '\n');
        line = next != nullptr ? next + 1 : line + std::strlen(line);
    }
    return 0;
}

} // namespace

// Mappings and descriptors are matched by device and inode, never by path: a
// process in another mount namespace can map a different file of the same
// path. Descriptors are read before mappings: a process that opens an
// object, maps it and closes it is then seen at one step or the other.
ObjectUsers::ObjectUsers(const ObjectFolder& folder) : scan(new Scan)
{
    const std::uint64_t device = folder.device();
    Scan& found = *scan;
    const bool listed = forEachProcessId([&found, device](const std::string& pid) {
        const ProcessId id = std::strtoll(pid.c_str(), nullptr, 10);
        for (const auto read : {readDescriptors, readMappings}) {
            const int failure = read(pid, device, id, found.usersByInode);
            if (failure != 0 && !isGone(failure) && !(isDenied(failure) && !mayReach(pid, device))) {
                found.complete = false;
            }
            if (failure != 0) {
                return;
            }
        }
    });
    scan->complete = scan->complete && listed && seesEveryProcess();
}

ObjectUsers::~ObjectUsers() = default;

ObjectUse ObjectUsers::of(const ObjectFile& file) const
{
    ObjectUse use;
    const auto found = scan->usersByInode.find(file.inode);
    if (found != scan->usersByInode.end()) {
        use.pids = found->second;
        std::sort(use.pids.begin(), use.pids.end());
    }
    use.heldOpen = !use.pids.empty();
    use.complete = scan->complete;
    return use;
}

} // namespace tool
} // namespace okr
