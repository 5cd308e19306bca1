#ifndef OKR_TOOL_PROCESSTABLE_H
#define OKR_TOOL_PROCESSTABLE_H

#include "tool/folder/ObjectFile.h"
#include "tool/folder/ObjectFolder.h"

#include <cstdint>
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

// Every process running now that the tool can see.
ProcessList liveProcesses();

struct ObjectUse {
    std::vector<ProcessId> pids; // processes seen mapping or holding the object
    bool heldOpen = false;       // some process, named or not, holds it
    bool complete = true;        // false when processes the tool could not
                                 // inspect may use it too
};

// Which processes use which object of one folder, as of construction.
class ObjectUsers {
public:
    explicit ObjectUsers(const ObjectFolder& folder);
    ~ObjectUsers();
    ObjectUsers(const ObjectUsers&) = delete;
    ObjectUsers& operator=(const ObjectUsers&) = delete;

    ObjectUse of(const ObjectFile& file) const;

private:
    struct Scan;
    std::unique_ptr<Scan> scan;
};

} // namespace tool
} // namespace okr

#endif
