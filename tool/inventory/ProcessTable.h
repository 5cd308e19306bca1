#ifndef OKR_TOOL_PROCESSTABLE_H
#define OKR_TOOL_PROCESSTABLE_H

#include "tool/folder/ObjectFile.h"
#include "tool/folder/ObjectFolder.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace okr {
namespace tool {

using ProcessId = std::int64_t;

struct LiveProcess {
    ProcessId pid;
    // The ids this process has in each process-id namespace it belongs to,
    // outermost (pid) first: a process names its record with the innermost.
    std::vector<ProcessId> namespaceIds;
    std::string userName; // its user's login name, as the tool carries text
};

struct ProcessList {
    std::vector<LiveProcess> processes;
    bool complete = true; // false when a process could not be inspected
};

// How long reading the processes may take. Any user can make reading them
// slow (a process may hold a million descriptors): the scan stops at the
// deadline, or once stop (optional) says so, and what it did not read is
// unknown, never taken as unused. Both are checked for every process and
// every few thousand descriptors, and by the thread that reads the locks
// beside the scan: stop must be safe to call from two threads at once.
struct ScanLimit {
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::function<bool()> stop;

    bool reached() const;
    // From now, as long as OKR_SHM_SCAN_SECONDS says (a decimal number of
    // seconds), else defaultSeconds.
    static ScanLimit fromNow();
    static constexpr double defaultSeconds = 10.0;
};

struct ObjectUse {
    std::vector<ProcessId> pids; // processes seen mapping or holding the object
    bool heldOpen = false;       // some process, named or not, holds it
    bool complete = true;        // false when processes the tool could not
                                 // inspect may use it too
    // The users the object's own locks declare (ipc/RecordLocks.h), as the
    // system names them; only Linux tells.
    std::vector<ProcessId> lockHolders;
    bool locksKnown = false;
};

// Which processes use which object of one folder, and which are alive, as
// of construction: every process is read once for both. The tool's own
// process uses nothing.
class ObjectUsers {
public:
    explicit ObjectUsers(const ObjectFolder& folder, const ScanLimit& limit = ScanLimit::fromNow());
    ~ObjectUsers();
    ObjectUsers(const ObjectUsers&) = delete;
    ObjectUsers& operator=(const ObjectUsers&) = delete;

    ObjectUse of(const ObjectFile& file) const;
    // The processes alive during the scan (every process the tool could see).
    const ProcessList& live() const;
    // How many processes the limit left unread; 0 when it was not reached.
    std::size_t unread() const;

    struct Scan; // what one reading of the processes found

private:
    std::unique_ptr<Scan> scan;
};

} // namespace tool
} // namespace okr

#endif
