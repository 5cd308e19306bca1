#include "tool/inventory/ProcessTable.h"

#include "tool/inventory/AccountNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/kcmp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string_view>
#include <system_error>
#include <utility>

namespace okr {
namespace tool {

namespace {

// The scan's own errno for "the limit was reached while reading this".
constexpr int stoppedEarly = ETIME;

class Descriptor {
public:
    explicit Descriptor(int value = -1) : fd(value) {}
    ~Descriptor()
    {
        if (fd >= 0) {
            close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

// Reads a whole /proc file below dir into text, whose storage is reused; 0
// or the errno of the failure. Read through a buffer on the stack: growing
// text to a reading's size would clear its whole room each time.
int readProcFile(int dir, const char* path, std::string& text)
{
    text.clear();
    const Descriptor file(openat(dir, path, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return errno;
    }
    char chunk[16384];
    for (;;) {
        const ssize_t got = read(file.get(), chunk, sizeof chunk);
        if (got > 0) {
            text.append(chunk, static_cast<std::size_t>(got));
        } else if (got == 0) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
}

// A process that ended while it was looked at is simply no longer there.
bool isGone(int failure) { return failure == ENOENT || failure == ESRCH; }

bool isDenied(int failure) { return failure == EACCES || failure == EPERM; }

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

// The numbered entries of a /proc folder (processes, or a process's threads).
bool numberedEntries(int dir, std::vector<std::string>& names)
{
    const int copy = dup(dir);
    DIR* listing = copy >= 0 ? fdopendir(copy) : nullptr;
    if (listing == nullptr) {
        if (copy >= 0) {
            close(copy);
        }
        return false;
    }
    while (const dirent* entry = readdir(listing)) {
        if (isProcessId(entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    return true;
}

// The line of a status file that starts with key (as "\nUid:\t"); null when none.
const char* statusLine(const std::string& status, const char* key)
{
    const char* found = std::strstr(status.c_str(), key);
    return found != nullptr ? found + std::strlen(key) : nullptr;
}

// The numbers after "Key:" on its line of a status file.
std::vector<ProcessId> statusValues(const std::string& status, const char* key)
{
    std::vector<ProcessId> values;
    const char* at = statusLine(status, key);
    while (at != nullptr && *at != '\n' && *at != '\0') {
        char* end = nullptr;
        const long long value = std::strtoll(at, &end, 10);
        if (end == at) {
            break;
        }
        values.push_back(value);
        at = end;
    }
    return values;
}

// Ended, only not yet reaped (Z), or being reaped (X): holds nothing.
bool hasEnded(const std::string& status)
{
    const char* state = statusLine(status, "\nState:\t");
    return state != nullptr && (*state == 'Z' || *state == 'X');
}

// The inode number the kernel gives the initial pid namespace, for good
// (PROC_PID_INIT_INO).
constexpr ino_t initialPidNamespace = 0xEFFFFFFCU;

// With hidepid, /proc shows an unprivileged reader only its own processes,
// and nothing else says that others are missing.
bool procHidesProcesses()
{
    if (geteuid() == 0) {
        return false;
    }
    std::string mounts;
    if (readProcFile(AT_FDCWD, "/proc/self/mountinfo", mounts) != 0) {
        return true;
    }
    for (std::size_t start = 0; start < mounts.size();) {
        std::size_t end = mounts.find('\n', start);
        end = end == std::string::npos ? mounts.size() : end;
        const std::string line = mounts.substr(start, end - start);
        start = end + 1;
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
        return readProcFile(AT_FDCWD, "/proc/self/status", status) == 0 &&
               statusValues(status, "\nNSpid:").size() == 1 && stat("/proc/self/ns/pid", &space) == 0 &&
               space.st_ino == initialPidNamespace && !procHidesProcesses();
    }();
    return everyProcess;
}

// Calls visit with the whitespace-separated fields of each line of a /proc
// table until it returns true; whether one did.
template <class Visit>
bool anyLine(std::string_view table, Visit visit)
{
    std::vector<std::string_view> fields;
    while (!table.empty()) {
        const std::size_t end = std::min(table.find('\n'), table.size());
        const std::string_view line = table.substr(0, end);
        table.remove_prefix(std::min(end + 1, table.size()));
        fields.clear();
        for (std::size_t at = line.find_first_not_of(' '); at != std::string_view::npos;
             at = line.find_first_not_of(' ', at)) {
            const std::size_t stop = std::min(line.find(' ', at), line.size());
            fields.push_back(line.substr(at, stop - at));
            at = stop;
        }
        if (visit(fields)) {
            return true;
        }
    }
    return false;
}

// A number in base that fills text exactly.
template <class Number>
bool parsed(std::string_view text, Number& value, int base = 10)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "MAJOR:MINOR" (base given) at the start of text, and what follows it.
bool parsedDevice(std::string_view text, int base, unsigned int& major, unsigned int& minor, std::string_view& rest)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || !parsed(text.substr(0, colon), major, base)) {
        return false;
    }
    text.remove_prefix(colon + 1);
    const std::size_t end = std::min(text.find(':'), text.size());
    rest = text.substr(end);
    return parsed(text.substr(0, end), minor, base);
}

// Whether a task's mounts include the folder's file system, or cannot be
// read; not when the task has left its mount namespace (EINVAL) or is gone:
// it is ending, and its descriptors and mappings went before.
bool mountsReach(int task, std::uint64_t device)
{
    std::string mounts;
    const int failure = readProcFile(task, "mountinfo", mounts);
    if (failure == EINVAL || isGone(failure)) {
        return false;
    }
    if (failure != 0 || mounts.empty()) {
        return true;
    }
    // Each line: mount id, parent id, major:minor (decimal), ...; what cannot
    // be read may be the folder's.
    return anyLine(mounts, [device](const std::vector<std::string_view>& fields) {
        unsigned int major = 0;
        unsigned int minor = 0;
        std::string_view after;
        return fields.size() < 3 || !parsedDevice(fields[2], 10, major, minor, after) || !after.empty() ||
               makedev(major, minor) == device;
    });
}

// For a process whose descriptors and mappings may not be read: false only
// when none of its threads' mounts is the folder's file system, so that it
// cannot reach the folder's objects by any path, or when it has ended
// meanwhile. A thread may have left for a mount namespace of its own, so
// the main thread's "no" is not the process's.
bool mayReach(int process, std::uint64_t device)
{
    if (mountsReach(process, device)) {
        return true;
    }
    const Descriptor tasks(openat(process, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> ids;
    if (tasks.get() < 0 || !numberedEntries(tasks.get(), ids)) {
        return !isGone(errno);
    }
    for (const std::string& id : ids) {
        const Descriptor task(openat(tasks.get(), id.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (task.get() < 0 ? !isGone(errno) : mountsReach(task.get(), device)) {
            return true;
        }
    }
    return false;
}

using Uses = std::vector<std::pair<std::uint64_t, ProcessId>>; // inode, process

// Reads one process: its status, and the descriptors and mappings of each of
// its threads that still runs.
class ProcessReader {
public:
    ProcessReader(std::uint64_t folderDevice, const ScanLimit& scanLimit, Uses& found)
        : device(folderDevice), limit(scanLimit), uses(found)
    {
        char text[32];
        std::snprintf(text, sizeof text, " %02x:%02x ", major(device), minor(device));
        deviceField = text;
    }

    // 0, or the errno that left its use unread; running: whether some thread
    // of it still runs, as far as it was read.
    int read(int process, ProcessId id, const std::string& status, bool& running)
    {
        pid = id;
        if (running && statusValues(status, "\nThreads:") == std::vector<ProcessId>{1}) {
            const int failure = readDescriptors(process);
            return failure != 0 ? failure : readMappings(process);
        }
        return readThreads(process, true, running);
    }

    // Whether a process whose main thread ended runs on in another.
    int runningThread(int process, bool& running) { return readThreads(process, false, running); }

private:
    // The files a process holds open, as fuser finds them: each descriptor's
    // target, by device and inode.
    int readDescriptors(int base)
    {
        const int copy = openat(base, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* fds = copy >= 0 ? fdopendir(copy) : nullptr;
        if (fds == nullptr) {
            const int failure = errno;
            if (copy >= 0) {
                close(copy);
            }
            return failure;
        }
        int failure = 0;
        unsigned count = 0;
        while (const dirent* entry = readdir(fds)) {
            if (++count % 4096 == 0 && limit.reached()) {
                failure = stoppedEarly;
                break;
            }
            struct stat target;
            if (entry->d_name[0] != '.' && fstatat(dirfd(fds), entry->d_name, &target, 0) == 0 &&
                target.st_dev == device) {
                uses.emplace_back(target.st_ino, pid);
            }
        }
        closedir(fds);
        return failure;
    }

    // The files a process maps: each line is range, permissions, offset,
    // major:minor (hex), inode, path.
    int readMappings(int base)
    {
        const int failure = readProcFile(base, "maps", maps);
        if (failure != 0) {
            return failure;
        }
        for (const char* line = maps.c_str(); *line != '\0';) {
            const char* field = line;
            for (int skip = 0; skip < 3 && field != nullptr; ++skip) {
                field = std::strchr(field + 1, ' ');
            }
            if (field != nullptr && std::strncmp(field, deviceField.c_str(), deviceField.size()) == 0) {
                const unsigned long long inode = std::strtoull(field + deviceField.size(), nullptr, 10);
                if (inode != 0) {
                    uses.emplace_back(inode, pid);
                }
            }
            const char* next = std::strchr(line, '\n');
            line = next != nullptr ? next + 1 : line + std::strlen(line);
        }
        return 0;
    }

    // A process whose main thread ended may run on in its other threads, and
    // a thread may hold descriptors of its own (clone without CLONE_FILES):
    // every thread that runs is read, its descriptors unless they are a table
    // already read (kcmp), the mappings once, as all threads share them.
    int readThreads(int process, bool readUses, bool& running)
    {
        running = false;
        const Descriptor tasks(openat(process, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        std::vector<std::string> ids;
        if (tasks.get() < 0 || !numberedEntries(tasks.get(), ids)) {
            return errno;
        }
        std::vector<long> tablesRead;
        bool mapsRead = false;
        std::string status;
        for (const std::string& id : ids) {
            if (limit.reached()) {
                return stoppedEarly;
            }
            const Descriptor task(openat(tasks.get(), id.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            int failure = task.get() < 0 ? errno : readProcFile(task.get(), "status", status);
            if (isGone(failure) || (failure == 0 && hasEnded(status))) {
                continue;
            }
            running = true;
            if (!readUses) {
                return 0;
            }
            long tid = 0;
            parsed(id, tid); // a numbered entry
            if (failure == 0 && !sharesTableRead(tid, tablesRead)) {
                failure = readDescriptors(task.get());
                tablesRead.push_back(tid);
            }
            if (failure == 0 && !mapsRead) {
                failure = readMappings(task.get());
                mapsRead = failure == 0;
            }
            if (failure != 0 && !isGone(failure)) {
                return failure;
            }
        }
        return 0;
    }

    static bool sharesTableRead(long tid, const std::vector<long>& tablesRead)
    {
        // kcmp names threads by the tool's own ids, which are /proc's only
        // when it sees every process.
        if (!seesEveryProcess()) {
            return false;
        }
        return std::any_of(tablesRead.begin(), tablesRead.end(), [tid](long read) {
            return syscall(SYS_kcmp, static_cast<pid_t>(read), static_cast<pid_t>(tid), KCMP_FILES, 0, 0) == 0;
        });
    }

    std::uint64_t device;
    const ScanLimit& limit;
    Uses& uses;
    std::string deviceField; // " mm:nn " as maps writes the folder's device
    std::string maps;
    ProcessId pid = 0;
};

// The flock(2) locks on the folder's files and who holds them, from
// /proc/locks: "1: FLOCK  ADVISORY  READ  1234 00:19:5678 0 EOF" (major and
// minor in hex); a line "1: -> FLOCK ..." waits and holds nothing. A holder
// the reader cannot name is 0. Any user can take millions of locks: lines
// are parsed as they come, only the folder's are kept, and reading them is
// held to the scan's limit (false: not known).
bool readLocks(std::uint64_t device, const ScanLimit& limit, Uses& holders)
{
    const Descriptor file(open("/proc/locks", O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return false;
    }
    const auto keepHolder = [device, &holders](const std::vector<std::string_view>& fields) {
        long long pid = 0;
        unsigned int major = 0;
        unsigned int minor = 0;
        unsigned long long inode = 0;
        std::string_view after;
        if (fields.size() >= 6 && fields[1] == "FLOCK" && parsed(fields[4], pid) &&
            parsedDevice(fields[5], 16, major, minor, after) && after.size() > 1 && parsed(after.substr(1), inode) &&
            makedev(major, minor) == device) {
            holders.emplace_back(inode, pid > 0 ? pid : 0);
        }
        return false;
    };
    std::string lines;
    char chunk[16384];
    for (;;) {
        if (limit.reached()) {
            return false;
        }
        const ssize_t got = read(file.get(), chunk, sizeof chunk);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        lines.append(chunk, static_cast<std::size_t>(got));
        const std::size_t whole = lines.rfind('\n') + 1; // 0 when no line has ended yet
        anyLine(std::string_view(lines).substr(0, whole), keepHolder);
        lines.erase(0, whole);
    }
    anyLine(lines, keepHolder);
    std::sort(holders.begin(), holders.end());
    holders.erase(std::unique(holders.begin(), holders.end()), holders.end());
    return true;
}

} // namespace

struct ObjectUsers::Scan {
    Uses uses;
    Uses lockHolders;
    bool locksKnown = false;
    ProcessList live;
    bool complete = true;
    std::size_t unread = 0;
};

namespace {

// Reads every process once: whether it lives, and what it uses.
void scanProcesses(ProcessReader& reader, std::uint64_t device, const ScanLimit& limit, ObjectUsers::Scan& found);

} // namespace

// Mappings and descriptors are matched by device and inode, never by path: a
// process in another mount namespace can map a different file of the same
// path. Descriptors are read before mappings: a process that opens an
// object, maps it and closes it is then seen at one step or the other.
ObjectUsers::ObjectUsers(const ObjectFolder& folder, const ScanLimit& limit) : scan(new Scan)
{
    const std::uint64_t device = folder.device();
    // A reader of /proc/locks waits for the kernel to quiesce every CPU:
    // milliseconds of no work, spent beside the scan.
    Scan& found = *scan;
    const auto readTheLocks = [device, &limit, &found] {
        found.locksKnown = readLocks(device, limit, found.lockHolders);
    };
    std::future<void> locks;
    try {
        locks = std::async(std::launch::async, readTheLocks);
    } catch (const std::system_error&) {
        readTheLocks(); // no thread to be had
    }
    ProcessReader reader(device, limit, scan->uses);
    scanProcesses(reader, device, limit, *scan);
    if (locks.valid()) {
        locks.get();
    }
    std::sort(scan->uses.begin(), scan->uses.end());
    scan->uses.erase(std::unique(scan->uses.begin(), scan->uses.end()), scan->uses.end());
    scan->complete = scan->complete && scan->live.complete;
}

namespace {

// Each process is read through one handle on its /proc folder, so that a new
// process that takes its id meanwhile is never read in its place.
void scanProcesses(ProcessReader& reader, std::uint64_t device, const ScanLimit& limit, ObjectUsers::Scan& found)
{
    found.live.complete = seesEveryProcess();
    const Descriptor proc(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> ids;
    if (proc.get() < 0 || !numberedEntries(proc.get(), ids)) {
        found.live.complete = false;
    }
    // The tool's own descriptors are no use of anyone's: clean holds every
    // candidate of a round open while it reads. /proc names it by the tool's
    // own id only when it sees every process.
    const ProcessId self = found.live.complete ? static_cast<ProcessId>(getpid()) : -1;
    AccountNames accounts;
    Uses none;
    ProcessReader threadsOnly(device, limit, none);
    std::string status;
    for (std::size_t index = 0; index < ids.size(); ++index) {
        if (limit.reached()) {
            found.unread = ids.size() - index;
            found.live.complete = false;
            return;
        }
        const char* name = ids[index].c_str();
        const Descriptor process(openat(proc.get(), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        int failure = process.get() < 0 ? errno : readProcFile(process.get(), "status", status);
        const std::vector<ProcessId> uids = failure == 0 ? statusValues(status, "\nUid:") : std::vector<ProcessId>();
        if (failure != 0 || uids.empty()) {
            found.live.complete = found.live.complete && isGone(failure);
            continue;
        }
        const ProcessId id = std::strtoll(name, nullptr, 10);
        bool running = !hasEnded(status);
        if (id != self) {
            failure = reader.read(process.get(), id, status, running);
        } else if (!running) {
            failure = threadsOnly.runningThread(process.get(), running);
        }
        if (failure == stoppedEarly) {
            found.unread = ids.size() - index;
            found.live.complete = false;
            return;
        }
        if (failure != 0 && !isGone(failure) && !(isDenied(failure) && !mayReach(process.get(), device))) {
            found.complete = false;
        }
        if (!running) {
            continue; // ended, only not yet reaped: its record is nobody's now
        }
        // The real user, as getuid() gives it to the process itself; no name
        // means an empty one, as for the process itself.
        LiveProcess live{id, statusValues(status, "\nNSpid:"), accounts.nameOf(std::to_string(uids.front()))};
        if (live.namespaceIds.empty()) {
            live.namespaceIds.push_back(id);
        }
        found.live.processes.push_back(std::move(live));
    }
}

} // namespace

ObjectUsers::~ObjectUsers() = default;

namespace {

std::vector<ProcessId> pidsOf(const Uses& uses, std::uint64_t inode)
{
    std::vector<ProcessId> pids;
    auto at = std::lower_bound(uses.begin(), uses.end(), std::make_pair(inode, ProcessId{0}));
    for (; at != uses.end() && at->first == inode; ++at) {
        pids.push_back(at->second);
    }
    return pids;
}

} // namespace

ObjectUse ObjectUsers::of(const ObjectFile& file) const
{
    ObjectUse use;
    use.pids = pidsOf(scan->uses, file.inode);
    use.lockHolders = pidsOf(scan->lockHolders, file.inode);
    use.locksKnown = scan->locksKnown;
    use.heldOpen = !use.pids.empty() || !use.lockHolders.empty();
    // A holder nobody can name is held all the same.
    use.lockHolders.erase(std::remove(use.lockHolders.begin(), use.lockHolders.end(), 0), use.lockHolders.end());
    use.complete = scan->complete;
    return use;
}

const ProcessList& ObjectUsers::live() const { return scan->live; }

std::size_t ObjectUsers::unread() const { return scan->unread; }

} // namespace tool
} // namespace okr
