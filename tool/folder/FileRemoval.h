#ifndef OKR_TOOL_FILEREMOVAL_H
#define OKR_TOOL_FILEREMOVAL_H

#include "tool/folder/ObjectFolder.h"
#include "tool/inventory/ProcessTable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace okr {
namespace tool {

struct Removal {
    enum Outcome { removed, alreadyGone, kept, failed };
    Removal(Outcome result, std::string why = std::string()) : outcome(result), reason(std::move(why)) {}

    Outcome outcome;
    std::string reason; // kept: why; failed: the system's words (removalFailed)
};

// A removal the system refused, with its words for the error code (errno,
// GetLastError()) and nothing else: clean says "cannot remove NAME: " before
// them, in one wording on every platform.
Removal removalFailed(std::int64_t systemCode);

// Why clean keeps an object whose lock a user of the library holds, and one
// whose name another process is removing.
extern const char* const lockedReason;
extern const char* const removingReason;

// What removeObjects asks of its caller.
class RemovalJudge {
public:
    RemovalJudge() = default;
    virtual ~RemovalJudge() = default;
    RemovalJudge(const RemovalJudge&) = delete;
    RemovalJudge& operator=(const RemovalJudge&) = delete;

    // Called once the candidates of a round are locked against the library's
    // users and before their verdicts, with the one reading of the processes
    // made then, which every verdict of the round is given a part of.
    virtual void survey(const ObjectUsers& users) = 0;
    // Why candidate index must stay, given who uses it now; empty when it may
    // go. Asked too of one whose users' lock was refused.
    virtual std::string verdict(std::size_t index, const ObjectUse& now) = 0;
    // Every verdict of the round that ends before candidate end is in, and
    // nothing of it is removed yet.
    virtual void judged(std::size_t end) = 0;
    // How candidate index ended, as soon as it did.
    virtual void settled(std::size_t index, const Removal& removal) = 0;
};

// Removes each candidate file of folder (as the inventory saw it), but only
// if it is still that very regular file, no user of the library holds its
// lock (RecordLocks.h), and the judge, asked while that lock is held, lets it
// go; nothing is ever renamed. Settles every candidate, in their order. Each
// platform's file says how.
void removeObjects(const ObjectFolder& folder, const std::vector<ObjectFile>& candidates, RemovalJudge& judge);

// Removes the folder named name in parent if it is still the one opened as
// folder (no link) and is empty.
Removal removeEmptyFolder(const ObjectFolder& parent, const std::string& name, const ObjectFolder& folder);

} // namespace tool
} // namespace okr

#endif
