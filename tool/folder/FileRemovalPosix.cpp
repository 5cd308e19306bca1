#include "tool/folder/FileRemoval.h"

#include "tool/folder/ObjectFolderPosix.h"
#include "tool/folder/SetAsideName.h"
#include "tool/system/SystemReason.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace okr {
namespace tool {

namespace {

// Ctrl-C, a closed terminal or SIGTERM while objects are moved aside take
// effect once each is removed or back under its name.
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

// What the system refused, in its words: clean says which object.
Removal failure() { return removalFailed(errno); }

const char* const changedReason = "changed since it was listed";

// Whether the entry name of the folder is still the regular file seen.
enum class Still { same, changed, gone, unknown };

Still stillTheFile(int fd, const std::string& name, const ObjectFile& seen, struct stat& facts)
{
    if (fstatat(fd, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Still::gone : Still::unknown;
    }
    return S_ISREG(facts.st_mode) && facts.st_dev == seen.device && facts.st_ino == seen.inode ? Still::same
                                                                                               : Still::changed;
}

// Moves the candidate's file to a hidden name nobody can know beforehand;
// a name someone made already is only passed over. False with how it ended
// when it could not be moved.
bool moveAside(int fd, const RemovalCandidate& candidate, std::string& hidden, Removal& ended)
{
    constexpr int attempts = 16;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!newSetAsideName(candidate.home, hidden)) {
            ended = failure();
            return false;
        }
        if (renameat2(fd, candidate.seen.name.c_str(), fd, hidden.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno != EEXIST) {
            ended = errno == ENOENT ? Removal(Removal::alreadyGone) : failure();
            return false;
        }
    }
    errno = EEXIST;
    ended = failure();
    return false;
}

// Puts what stays back under its name, which is never left free while it
// stays hidden. When something took the name meanwhile and the object is in
// use (exchange), the two trade places in one step: the object is back and
// the taker, an object of its own, is under the hidden name, kept. Otherwise
// the object stays hidden and a later clean settles it. A leftover that
// cannot go back is no worse off than before: kept, no failure.
Removal putBack(int fd, const std::string& hidden, const RemovalCandidate& candidate, const std::string& reason,
                bool exchange)
{
    const std::string& home = candidate.home;
    // A leftover's label is its hidden name already.
    const std::string stays = candidate.setAside ? std::string() : "; it stays as " + hidden;
    Removal kept(Removal::kept, reason);
    if (home.empty()) {
        kept.reason += "; its name is unknown";
        return kept;
    }
    constexpr int attempts = 8;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (renameat2(fd, hidden.c_str(), fd, home.c_str(), RENAME_NOREPLACE) == 0) {
            kept.backAs = candidate.setAside ? home : std::string();
            return kept;
        }
        if (errno != EEXIST) {
            break;
        }
        if (!exchange) {
            kept.reason += "; its name is taken" + stays;
            return kept;
        }
        if (renameat2(fd, hidden.c_str(), fd, home.c_str(), RENAME_EXCHANGE) == 0) {
            kept.displaced = hidden;
            return kept;
        }
        if (errno != ENOENT) {
            break; // ENOENT: the taker went away meanwhile, the name is free again
        }
    }
    if (candidate.setAside) {
        kept.reason += "; it cannot go back under its name: " + systemReason(errno);
        return kept;
    }
    Removal stuck = failure();
    stuck.reason = reason + stays + ", since it cannot go back under its name: " + stuck.reason;
    return stuck;
}

} // namespace

// No deciding first and unlinking by name later. Every candidate is renamed,
// in one step, to a hidden name in the same folder (renameat2 with
// RENAME_NOREPLACE; see SetAsideName.h): from then on a process that opens
// its name gets a fresh object or none, never this one. A leftover of an
// earlier clean is hidden already. Then one reading of every process's
// descriptors and mappings serves them all, and each, in turn: it must still
// be the regular file the inventory saw (device and inode), the verdict on
// its users is asked, and it is unlinked or put back (putBack above). The
// cost grows with objects plus processes, not their product.
// Not closed: a descriptor passed from one process to another over a socket
// while the users are read is seen in neither; a SIGKILL of the tool between
// the steps leaves objects under hidden names, which list shows and a later
// clean settles.
void removeObjects(const ObjectFolder& folder, const std::vector<RemovalCandidate>& candidates, RemovalJudge& judge)
{
    const int fd = folder.native().fd;
    const InterruptsHeld held;
    std::vector<std::string> hidden(candidates.size());
    std::vector<bool> aside(candidates.size(), false);
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        const RemovalCandidate& candidate = candidates[index];
        if (candidate.setAside) {
            hidden[index] = candidate.seen.name;
        } else {
            Removal ended(Removal::failed);
            if (!moveAside(fd, candidate, hidden[index], ended)) {
                judge.settled(index, ended);
                continue;
            }
        }
        aside[index] = true;
    }
    const ObjectUsers users(folder);
    judge.survey();
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        if (!aside[index]) {
            continue;
        }
        const RemovalCandidate& candidate = candidates[index];
        // Looked at right before it goes (the verdict only weighs what is
        // known): the hidden name is in a folder everyone writes.
        struct stat facts;
        const Still still = stillTheFile(fd, hidden[index], candidate.seen, facts);
        if (still == Still::gone || still == Still::unknown) {
            judge.settled(index, still == Still::gone ? Removal(Removal::alreadyGone) : failure());
            continue;
        }
        if (still == Still::changed) {
            // Not the object seen: what this clean moved aside goes back as
            // it came; a leftover that is no longer the one seen stays put.
            judge.settled(index, candidate.setAside ? Removal(Removal::kept, changedReason)
                                                    : putBack(fd, hidden[index], candidate, changedReason, false));
            continue;
        }
        const ObjectUse now = users.of(objectFileOf(hidden[index], facts));
        const std::string reason = judge.verdict(index, now);
        if (!reason.empty()) {
            // Only an object that someone maps or holds takes its name back
            // from whatever took it meanwhile; a leftover never does, since
            // nobody knows how long ago it left its name.
            judge.settled(index, putBack(fd, hidden[index], candidate, reason, now.heldOpen && !candidate.setAside));
            continue;
        }
        if (unlinkat(fd, hidden[index].c_str(), 0) != 0) {
            judge.settled(index, errno == ENOENT ? Removal(Removal::alreadyGone) : failure());
            continue;
        }
        judge.settled(index, Removal::removed);
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
