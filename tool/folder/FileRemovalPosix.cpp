#include "tool/folder/FileRemoval.h"

#include "ipc/RecordLocks.h"
#include "tool/folder/ObjectFolderPosix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace okr {
namespace tool {

namespace {

// What the system refused, in its words: clean says which object.
Removal failure(int code = errno) { return removalFailed(code); }

const char* const changedReason = "changed since it was listed";

// Descriptors this process may hold at once, its soft limit raised to the
// hard one first: every candidate of a round stays open and locked until it
// is settled.
std::size_t descriptorRoom()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 64;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            getrlimit(RLIMIT_NOFILE, &limit);
        }
    }
    // Room for the standard streams, the folder and what the scan opens.
    constexpr rlim_t reserve = 64;
    constexpr rlim_t most = 1U << 20;
    return static_cast<std::size_t>(limit.rlim_cur > 2 * reserve ? std::min(limit.rlim_cur - reserve, most)
                                                                 : std::max<rlim_t>(limit.rlim_cur / 2, 1));
}

// One candidate from its lock to its end.
struct Held {
    int fd = -1;
    int writeRefused = 0; // errno: opened read-only, to judge it only
    bool open = false;    // still to be settled after the scan
    bool refused = false; // a user of the library holds its lock
    Removal ended{Removal::failed};
};

// Opens the candidate by its true name, never through a link or into a FIFO,
// and takes its exclusive lock without waiting: granted only while no user
// of the library holds the block, and while it is held no user can arrive
// (one that meets it tries again). False with how the candidate ended.
bool takeUnused(int folder, const ObjectFile& seen, Held& held)
{
    constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    held.fd = openat(folder, seen.name.c_str(), O_RDWR | flags);
    if (held.fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        held.writeRefused = errno;
        held.fd = openat(folder, seen.name.c_str(), O_RDONLY | flags);
    }
    if (held.fd < 0) {
        // A link or a folder under the name now: not the file that was listed.
        held.ended = errno == ENOENT                     ? Removal(Removal::alreadyGone)
                     : errno == ELOOP || errno == EISDIR ? Removal(Removal::kept, changedReason)
                                                         : failure();
        return false;
    }
    struct stat facts;
    if (fstat(held.fd, &facts) != 0) {
        held.ended = failure();
        return false;
    }
    if (!S_ISREG(facts.st_mode) || facts.st_dev != seen.device || facts.st_ino != seen.inode) {
        held.ended = Removal(Removal::kept, changedReason);
        return false;
    }
    if (flock(held.fd, LOCK_EX | LOCK_NB) != 0) {
        held.refused = errno == EWOULDBLOCK;
        held.ended = held.refused ? Removal(Removal::kept, lockedReason) : failure();
        return false;
    }
    return true;
}

// Whether the entry name is still the file of fd.
enum class Still { same, changed, gone, unknown };

Still stillTheFile(int folder, const std::string& name, const ObjectFile& seen)
{
    struct stat facts;
    if (fstatat(folder, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Still::gone : Still::unknown;
    }
    return facts.st_dev == seen.device && facts.st_ino == seen.inode ? Still::same : Still::changed;
}

// Removes the name of the locked file: under the name lock, taken without
// waiting, and only once the name is seen to mean that file still; then
// makes sure it is gone.
Removal removeName(int folder, const ObjectFile& seen, int fd)
{
    struct flock name = {};
    name.l_type = F_WRLCK;
    name.l_whence = SEEK_SET;
    name.l_start = static_cast<off_t>(ipc::recordLocks::nameByte);
    name.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &name) != 0) {
        return errno == EAGAIN || errno == EACCES ? Removal(Removal::kept, removingReason) : failure();
    }
    switch (stillTheFile(folder, seen.name, seen)) {
    case Still::same: break;
    case Still::changed: return {Removal::kept, changedReason};
    case Still::gone: return Removal::alreadyGone;
    case Still::unknown: return failure();
    }
    if (unlinkat(folder, seen.name.c_str(), 0) != 0) {
        return errno == ENOENT ? Removal(Removal::alreadyGone) : failure();
    }
    if (stillTheFile(folder, seen.name, seen) == Still::same) {
        return {Removal::failed, "still there after it was removed"};
    }
    return Removal::removed;
}

// The locks of this process on every candidate of the round are no use of
// anyone's (the scan leaves its descriptors out, but not where a process
// reading another /proc may see them).
ObjectUse othersUse(ObjectUse use)
{
    static const auto self = static_cast<ProcessId>(getpid());
    use.pids.erase(std::remove(use.pids.begin(), use.pids.end(), self), use.pids.end());
    use.heldOpen = !use.pids.empty();
    return use;
}

// One round: lock what is free, read the processes once, remove what
// nobody uses.
void removeRound(const ObjectFolder& folder, const std::vector<ObjectFile>& candidates, std::size_t first,
                 std::size_t end, RemovalJudge& judge)
{
    const int fd = folder.native().fd;
    std::vector<Held> round(end - first);
    bool anyToJudge = false;
    for (std::size_t at = first; at < end; ++at) {
        Held& held = round[at - first];
        held.open = takeUnused(fd, candidates[at], held);
        anyToJudge = anyToJudge || held.open || held.refused;
    }
    // The second witness, read once for the round and only now that the
    // locks are held: whatever maps or holds a candidate (the library's users
    // and everyone else) keeps it. One whose lock a user holds is kept all
    // the same, in the words of the users seen, if any.
    std::unique_ptr<ObjectUsers> users;
    if (anyToJudge) {
        users = std::make_unique<ObjectUsers>(folder);
        judge.survey(*users);
    }
    for (std::size_t at = first; at < end; ++at) {
        Held& held = round[at - first];
        if (!held.open && !held.refused) {
            continue;
        }
        const std::string reason = judge.verdict(at, othersUse(users->of(candidates[at])));
        if (!reason.empty()) {
            held.open = false;
            held.ended = Removal(Removal::kept, reason);
        }
    }
    judge.judged(end);
    for (std::size_t at = first; at < end; ++at) {
        Held& held = round[at - first];
        if (held.open) {
            if (held.writeRefused != 0) {
                held.ended = failure(held.writeRefused); // the name lock needs write access
            } else {
                held.ended = removeName(fd, candidates[at], held.fd);
            }
        }
        if (held.fd >= 0) {
            close(held.fd); // its locks go with it
        }
        judge.settled(at, held.ended);
    }
}

} // namespace

// Nothing is ever renamed, so no name is absent for a moment and nothing is
// exchanged. A library user declares its use by its lock (RecordLocks.h):
// every candidate is locked first, then one reading of every process's
// descriptors and mappings serves them all, and each that nobody uses loses
// its name under the name lock, once seen to be still that file. The cost
// grows with objects plus processes, not their product.
// Not closed: a process that opens a name without the library after the
// reading and before the removal loses that name (its file stays its own);
// a descriptor passed over a socket while the processes are read is seen in
// neither. Ctrl-C, SIGTERM and SIGHUP end the tool at once, as by default:
// nothing is ever out of place, and the locks go with the process.
void removeObjects(const ObjectFolder& folder, const std::vector<ObjectFile>& candidates, RemovalJudge& judge)
{
    const std::size_t room = descriptorRoom();
    for (std::size_t first = 0; first < candidates.size(); first += room) {
        removeRound(folder, candidates, first, std::min(candidates.size(), first + room), judge);
    }
}

Removal removeEmptyFolder(const ObjectFolder& parent, const std::string& name, const ObjectFolder& folder)
{
    const int fd = parent.native().fd;
    struct stat facts;
    if (fstatat(fd, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Removal{Removal::alreadyGone, std::string()} : failure();
    }
    if (!S_ISDIR(facts.st_mode) || facts.st_dev != folder.native().device || facts.st_ino != folder.native().inode) {
        return {Removal::kept, "changed since it was listed"};
    }
    // rmdir never follows a link and never removes a folder that holds anything.
    if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) {
        if (errno == ENOTEMPTY || errno == EEXIST) {
            return {Removal::kept, "not empty"};
        }
        return errno == ENOENT ? Removal{Removal::alreadyGone, std::string()} : failure();
    }
    return {Removal::removed, std::string()};
}

} // namespace tool
} // namespace okr
