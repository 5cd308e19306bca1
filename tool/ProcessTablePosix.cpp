#include "ProcessTable.h"

#include "AccountNames.h"

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

} // namespace

ProcessList liveProcesses()
{
    ProcessList list;
    list.complete = !procHidesProcesses();
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
    std::map<std::uint64_t, std::vector<ProcessId>> mappersByInode;
    bool complete = true;
};

// Mappings are matched by device and inode, never by path: a process in
// another mount namespace can map a different file of the same path.
ObjectUsers::ObjectUsers(const std::string& folder) : scan(new Scan)
{
    struct stat facts;
    if (stat(folder.c_str(), &facts) != 0) {
        scan->complete = false;
        return;
    }
    const std::uint64_t folderDevice = facts.st_dev;
    Scan& found = *scan;
    const bool listed = forEachProcessId([&found, folderDevice](const std::string& pid) {
        std::string maps;
        const int failure = readProcFile("/proc/" + pid + "/maps", maps);
        if (failure != 0) {
            found.complete = found.complete && isGone(failure);
            return;
        }
        // Each line: range, permissions, offset, major:minor (hex), inode, path.
        const ProcessId id = std::strtoll(pid.c_str(), nullptr, 10);
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
                if (inode != 0 && makedev(major, minor) == folderDevice) {
                    std::vector<ProcessId>& pids = found.mappersByInode[inode];
                    if (pids.empty() || pids.back() != id) {
                        pids.push_back(id);
                    }
                }
            }
            const char* next = std::strchr(line, '\n');
            line = next != nullptr ? next + 1 : line + std::strlen(line);
        }
    });
    scan->complete = scan->complete && listed && !procHidesProcesses();
}

ObjectUsers::~ObjectUsers() = default;

ObjectUse ObjectUsers::of(const ObjectFile& file) const
{
    ObjectUse use;
    const auto found = scan->mappersByInode.find(file.inode);
    if (found != scan->mappersByInode.end()) {
        use.pids = found->second;
        std::sort(use.pids.begin(), use.pids.end());
    }
    use.heldOpen = !use.pids.empty();
    use.complete = scan->complete;
    return use;
}

} // namespace tool
} // namespace okr
