#include "tool/folder/FileRemoval.h"

#include "tool/folder/ObjectFolderPosix.h"
#include "tool/system/SystemReason.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace okr {
namespace tool {

namespace {

// Ctrl-C, a closed terminal or SIGTERM while an object is moved aside take
// effect once it is removed or back under its name.
class InterruptsHeld {
public:
    InterruptsHeld()
    {
        sigset_t interrupts;
        sigemptyset(&interrupts);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            sigaddset(&interrupts, signal);
        }
        sigprocmask(SIG_BLOCK, &interrupts, &before);
    }
    ~InterruptsHeld() { sigprocmask(SIG_SETMASK, &before, nullptr); }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t before;
};

Removal failure() { return removalFailed(errno); }

} // namespace

// No deciding first and unlinking by name later. The object is renamed, in
// one step, to a hidden name of this run in the same folder (renameat2 with
// RENAME_NOREPLACE): from then on a process that opens its name gets a fresh
// object or none, never this one. Then, on the moved object itself: it must
// still be the regular file the inventory saw (device and inode), its users
// are read again from every process's descriptors and mappings, and the
// verdict (is its owner alive now?) is asked again. Only then is it
// unlinked. Otherwise it is renamed back; if a fresh object took its name
// meanwhile, it stays under the hidden name, which is reported.
// Not closed: a descriptor passed from one process to another over a socket
// while the users are read is seen in neither; a SIGKILL of the tool between
// the steps leaves the object under its hidden name.
Removal removeObject(const ObjectFolder& folder, const ObjectFile& seen, const Verdict& verdict)
{
    const int fd = folder.native().fd;
    // By inode, not by name: a name near the longest allowed would not fit.
    const std::string hidden = ".okr-shm-" + std::to_string(getpid()) + "-" + std::to_string(seen.inode);
    const InterruptsHeld held;
    if (renameat2(fd, seen.name.c_str(), fd, hidden.c_str(), RENAME_NOREPLACE) != 0) {
        return errno == ENOENT ? Removal{Removal::alreadyGone, std::string()} : failure();
    }
    struct stat facts;
    std::string reason;
    if (fstatat(fd, hidden.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Removal{Removal::alreadyGone, std::string()} : failure();
    }
    if (!S_ISREG(facts.st_mode) || facts.st_dev != seen.device || facts.st_ino != seen.inode) {
        reason = "changed since it was listed";
    } else {
        const ObjectUsers users(folder);
        reason = verdict(users.of(objectFileOf(hidden, facts)));
    }
    if (reason.empty()) {
        if (unlinkat(fd, hidden.c_str(), 0) != 0) {
            return errno == ENOENT ? Removal{Removal::alreadyGone, std::string()} : failure();
        }
        return {Removal::removed, std::string()};
    }
    if (renameat2(fd, hidden.c_str(), fd, seen.name.c_str(), RENAME_NOREPLACE) != 0) {
        return {Removal::failed, reason + "; it stays as " + hidden +
                                     ", since it cannot go back under its name: " + systemReason(errno)};
    }
    return {Removal::kept, reason};
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
